#include "fake_system.h"
#include "ring.h"
#include "scratch.h"

#include <gtest/gtest.h>

using qor::Counter;
using qor::read_counter;

TEST(Ring, SuccessorGoesRoundFourSlots) {
    EXPECT_EQ(qor::successor('0'), '1');
    EXPECT_EQ(qor::successor('2'), '3');
    EXPECT_EQ(qor::successor('3'), '0');
    Counter c;
    for (int i = 0; i < 4; ++i) c.posted = qor::successor(c.posted);
    EXPECT_EQ(c, (Counter{'0', '0'}));
}

// Only two sequence characters make a counter; what a failing database or
// a hand-typed value leaves must never be read as one.
TEST(Ring, OnlyTwoSequenceCharactersReadAsACounter) {
    EXPECT_EQ(read_counter("10\n"), (Counter{'1', '0'}));
    EXPECT_EQ(read_counter("33"), (Counter{'3', '3'}));
    EXPECT_TRUE(read_counter("10\n")->pending());
    EXPECT_FALSE(read_counter("22")->pending());
    for (const char* bad : {"", "0", "0\n", "4", "04", "40", "E1", "1 0", "100", "10x",
                            "error: no such key\n", " 10"})
        EXPECT_FALSE(read_counter(bad)) << '"' << bad << '"';
}

TEST(Ring, KeyWordsCarryBlanksAsUnderscores) {
    EXPECT_EQ(qor::key_word("filt R"), "filt_R");
    EXPECT_EQ(qor::from_key_word("move_12:34:56.7_-12:34:56"), "move 12:34:56.7 -12:34:56");
    EXPECT_EQ(qor::slot_key('p', '3'), "p3");
}

TEST(Ring, MailboxRunsTheKeyToolsOfTheSite) {
    qor::test::Scratch root;
    setenv("QOR_ROOT", root.dir().c_str(), 1);
    qor::test::FakeSystem sys;
    qor::Mailbox box(sys);

    sys.db["qor.ss"] = "20";
    EXPECT_EQ(box.counter("ss"), (Counter{'2', '0'}));
    EXPECT_EQ(sys.captures.back(), (qor::Argv{root.path("u/tarnu/mokel/keyshow"), "ss"}));
    sys.db["qor.pp"] = "dbshow: no such key";
    EXPECT_FALSE(box.counter("pp"));
    EXPECT_FALSE(box.counter("p0")); // never set: no output at all

    box.set_counter("ss", {'2', '1'});
    EXPECT_EQ(sys.db["qor.ss"], "21");
    // A reply stamped and posted: one word, the line end not part of it.
    box.set("p1", "21:05:07_OK\n");
    EXPECT_EQ(sys.runs.back(), (qor::Argv{root.path("u/tarnu/mokel/keyset"), "p1", "21:05:07_OK"}));
    sys.db["qor.v1"] = std::string("21:05:07.4\0tail", 15);
    EXPECT_EQ(box.show("v1", 80), "21:05:07.4");
    EXPECT_EQ(box.show("v1", 5), "21:05");
    unsetenv("QOR_ROOT");
}
