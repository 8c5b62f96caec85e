#include "files.h"
#include "scratch.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

class Files : public ::testing::Test {
  protected:
    qor::test::Scratch scratch{"qorfiles"};
    fs::path dir = scratch.dir();
};

TEST_F(Files, ReplaceWritesWholeFileAndLeavesNoTemporary) {
    auto p = (dir / "job.txt").string();
    ASSERT_TRUE(qor::replace_file(p, "first\n"));
    ASSERT_TRUE(qor::replace_file(p, "second"));
    EXPECT_EQ(qor::read_file(p).value(), "second");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(Files, ReplaceKeepsTheModeOfTheOldFile) {
    auto p = (dir / "batch").string();
    ASSERT_TRUE(qor::replace_file(p, "x"));
    chmod(p.c_str(), 0640);
    ASSERT_TRUE(qor::replace_file(p, "y"));
    struct stat st {};
    stat(p.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(Files, FailedReplaceLeavesTheOldFile) {
    auto p = (dir / "nodir" / "f").string();
    EXPECT_FALSE(qor::replace_file(p, "x"));
    EXPECT_FALSE(qor::read_file(p).has_value());
}

TEST_F(Files, AppendAndFirstLine) {
    auto p = (dir / "obs.log").string();
    ASSERT_TRUE(qor::append_file(p, "one\n"));
    ASSERT_TRUE(qor::append_file(p, "two\n"));
    EXPECT_EQ(qor::read_file(p).value(), "one\ntwo\n");
    EXPECT_EQ(qor::read_first_line(p, 80).value(), "one\n");
    EXPECT_EQ(qor::read_first_line(p, 2).value(), "on");
    EXPECT_FALSE(qor::read_first_line((dir / "missing").string(), 80).has_value());
    EXPECT_TRUE(qor::file_exists(p));
}
