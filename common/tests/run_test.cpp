#include "files.h"
#include "run.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using qor::Argv;

TEST(Run, WordsAreSplitAtBlanksTabsAndNewlinesOnly) {
    EXPECT_EQ(qor::command_words("  dbset\tsetups.qor.ss.value  00\n"),
              (Argv{"dbset", "setups.qor.ss.value", "00"}));
    // Quotes, $, ;, | and backquotes are ordinary characters of a word.
    EXPECT_EQ(qor::command_words("keyset p1 '$(touch_x);rm_-rf_y|z`id`'"),
              (Argv{"keyset", "p1", "'$(touch_x);rm_-rf_y|z`id`'"}));
    EXPECT_TRUE(qor::command_words(" \t\n").empty());
}

TEST(Run, ExitStatusOfTheProgram) {
    EXPECT_EQ(qor::run({"true"}), 0);
    EXPECT_EQ(qor::run({"sh", "-c", "exit 3"}), 3);
    EXPECT_EQ(qor::run({"sh", "-c", "kill -TERM $$"}), 128 + 15);
    EXPECT_EQ(qor::run({"/nonexistent/program"}), 127);
    EXPECT_EQ(qor::run({}), 127);
}

TEST(Run, ShellTextInAnArgumentIsNeverInterpreted) {
    auto dir = std::filesystem::temp_directory_path() / "qor_run_test";
    std::filesystem::create_directories(dir);
    auto victim = dir / "victim";
    std::string evil = "$(touch " + victim.string() + ");touch " + victim.string();
    auto c = qor::run_capture({"echo", evil}, 200);
    EXPECT_EQ(c.out, evil + "\n");
    EXPECT_FALSE(std::filesystem::exists(victim));
    std::filesystem::remove_all(dir);
}

TEST(Run, CaptureKeepsAtMostTheRequestedBytes) {
    auto c = qor::run_capture({"printf", "12345678"}, 2);
    EXPECT_EQ(c.out, "12");
    c = qor::run_capture({"printf", "ab"}, 80);
    EXPECT_EQ(c.out, "ab");
    EXPECT_EQ(c.status, 0);
    // A program writing far more than a pipe holds must not hang the reader.
    c = qor::run_capture({"sh", "-c", "yes | head -c 1000000"}, 5);
    EXPECT_EQ(c.out, "y\ny\ny");
    EXPECT_EQ(qor::run_capture({"sh", "-c", "exit 4"}, 10).status, 4);
}

TEST(Run, BackgroundStartDoesNotWait) {
    auto dir = std::filesystem::temp_directory_path() / "qor_bg_test";
    std::filesystem::create_directories(dir);
    auto mark = dir / "mark";
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(qor::run_background({"sh", "-c", "sleep 1; echo done > \"$0\"", mark.string()}));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(800));
    for (int i = 0; i < 50 && !std::filesystem::exists(mark); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(qor::read_file(mark.string()).value_or(""), "done\n");
    std::filesystem::remove_all(dir);
}
