// The batch file holds the night's progress: a driver killed while it
// rewrites the file must leave the old file or the new one, whole.
#include "driver.h"
#include "files.h"
#include "scratch.h"

#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

TEST(BatchRewrite, AKilledRewriteLeavesTheOldOrTheNewFileWhole) {
    qor::test::Scratch dir{"qobsrw"};
    std::string path = dir.path("night.batch");
    qobs::BatchStore before;
    for (int i = 0; i < 1999; ++i) {
        before.lines.push_back("A" + std::to_string(1000 + i) +
                               " V 10 3 05:35:17.3 -05:23:28 2000 0 0 512 512 1 f M42_" +
                               std::string(40, 'a' + i % 26) + "\n");
    }
    qobs::BatchStore after = before;
    for (std::size_t i = 0; i < after.lines.size(); ++i) after.mark(i, before.lines[i]);
    const std::string old_text = before.text(), new_text = after.text();
    ASSERT_TRUE(qor::replace_file(path, old_text));

    std::mt19937 rng(std::random_device{}());
    int seen_new = 0;
    for (int round = 0; round < 40; ++round) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            qor::RealSystem sys;
            qobs::Driver d(qobs::qorobs_build, sys);
            d.batch_path = path;
            for (int i = 0;; ++i) {
                d.store = i % 2 ? before : after;
                d.rewrite();
            }
        }
        usleep(std::uniform_int_distribution<useconds_t>(0, 30000)(rng));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        auto text = qor::read_file(path);
        ASSERT_TRUE(text);
        ASSERT_TRUE(*text == old_text || *text == new_text)
            << "round " << round << ": " << text->size() << " bytes";
        seen_new += *text == new_text;
    }
    RecordProperty("rounds_ending_new", seen_new);
}
