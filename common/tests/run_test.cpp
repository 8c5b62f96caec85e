#include "files.h"
#include "run.h"
#include "scratch.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
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
    qor::test::Scratch dir;
    auto victim = dir.dir() / "victim";
    std::string evil = "$(touch " + victim.string() + ");touch " + victim.string();
    auto c = qor::run_capture({"echo", evil}, 200);
    EXPECT_EQ(c.out, evil + "\n");
    EXPECT_FALSE(std::filesystem::exists(victim));
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
    qor::test::Scratch dir;
    auto mark = dir.dir() / "mark";
    auto gate = dir.dir() / "gate";
    ASSERT_EQ(mkfifo(gate.c_str(), 0600), 0);
    // The program cannot end before the test opens the gate: had the start
    // waited for it, it would never have returned.
    ASSERT_TRUE(qor::run_background(
        {"sh", "-c", "read x < \"$0\"; echo done > \"$1\"", gate.string(), mark.string()}));
    EXPECT_FALSE(std::filesystem::exists(mark));
    qor::append_file(gate.string(), "go\n");
    for (int i = 0; i < 600 && !std::filesystem::exists(mark); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(qor::read_file(mark.string()).value_or(""), "done\n");

    // A program that cannot start is reported, with the reason.
    errno = 0;
    EXPECT_FALSE(qor::run_background({dir.path("no-such-program")}));
    EXPECT_EQ(errno, ENOENT);
}

// A hung program costs its caller the time limit and no more, and takes
// what it started with it.
TEST(Run, AHungProgramIsEndedAtItsTimeLimit) {
    qor::test::Scratch dir;
    auto pidfile = dir.path("grandchild");
    // The grandchild holds the pipe open too; ending only the child would
    // leave the reader waiting on it (for 30 s, and the status would be 0).
    auto c = qor::run_capture(
        {"sh", "-c", "printf partial; sleep 30 & echo $! > \"$0\"; wait", pidfile}, 80, 0.5);
    EXPECT_TRUE(c.timed_out);
    EXPECT_EQ(c.status, qor::timed_out_status);
    EXPECT_EQ(c.out, "partial"); // what came before the limit is kept
    pid_t grandchild = std::stoi(qor::read_file(pidfile).value_or("0"));
    ASSERT_GT(grandchild, 0);
    // Ended (or a zombie waiting for init): no longer sleeping.
    bool gone = false;
    for (int i = 0; i < 50 && !gone; ++i) {
        auto stat = qor::read_file("/proc/" + std::to_string(grandchild) + "/stat");
        gone = !stat || stat->find(") Z") != std::string::npos;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(gone);

    EXPECT_EQ(qor::run({"sleep", "30"}, 0.3), qor::timed_out_status);
    // A program that ignores SIGTERM is killed.
    EXPECT_EQ(qor::run({"sh", "-c", "trap '' TERM; sleep 30"}, 0.3), qor::timed_out_status);
}

TEST(Run, AProgramWithinItsLimitIsNotDisturbed) {
    auto c = qor::run_capture({"sh", "-c", "sleep 0.2; echo ok"}, 80, 5);
    EXPECT_FALSE(c.timed_out);
    EXPECT_EQ(c.out, "ok\n");
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(qor::run({"sh", "-c", "sleep 0.2; exit 3"}, qor::no_time_limit), 3);
    EXPECT_GT(qor::default_time_limit(), 0);
}
