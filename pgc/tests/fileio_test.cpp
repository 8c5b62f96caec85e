// Files read and written in place, the printer page, and the stamps.
#include "header_utils.h"
#include "scratch.h"

#include <cctype>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

using pgctest::card;
using pgctest::Scratch;
using pgctest::slurp;
using pgctest::spit;

namespace {

// Runs a routine with the scratch directory as working directory and returns
// what it printed.
template <class F> std::string in_dir(const Scratch& s, F f) {
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(s.dir);
    testing::internal::CaptureStdout();
    f();
    std::string out = testing::internal::GetCapturedStdout();
    std::filesystem::current_path(old);
    return out;
}

// A Fortran character variable: the name blank-padded, no terminator.
std::string padded(const std::string& name, std::size_t len = 80) {
    std::string s = name;
    s.resize(len, ' ');
    return s;
}

} // namespace

TEST(InPlace, ReadWriteAndHeaderReplaceTouchOnlyTheNamedBytes) {
    Scratch s;
    const std::string f = s.path("frame.fit");
    spit(f, std::string(6000, 'x'));
    const std::string name = padded(f);

    int len = 4, pos = 5990;
    tvwrite_(name.c_str(), "ABCD", &len, &pos);
    char got[5] = {};
    tvread_(name.c_str(), got, &len, &pos);
    EXPECT_STREQ(got, "ABCD");

    const std::string head(5760, 'H');
    tvcoordc_(name.c_str(), head.c_str());
    const std::string after = slurp(f);
    ASSERT_EQ(after.size(), 6000u);
    EXPECT_EQ(after.substr(0, 5760), head);
    EXPECT_EQ(after.substr(5760, 230), std::string(230, 'x'));
    EXPECT_EQ(after.substr(5990, 4), "ABCD");
}

TEST(InPlace, MissingFilesAndBadArgumentsAreReportedAndNothingIsCreated) {
    Scratch s;
    const std::string missing = s.path("none.fit");
    char buf[8] = "keep";
    int len = 4, pos = 0, bad = -1;
    const std::string head(5760, 'H');
    EXPECT_EQ(in_dir(s, [&] { tvread_(missing.c_str(), buf, &len, &pos); }), "error\n");
    EXPECT_EQ(in_dir(s, [&] { tvwrite_(missing.c_str(), "ABCD", &len, &pos); }), "error\n");
    EXPECT_EQ(in_dir(s, [&] { tvcoordc_(missing.c_str(), head.c_str()); }), "error\n");
    EXPECT_STREQ(buf, "keep");
    EXPECT_FALSE(std::filesystem::exists(missing));

    const std::string f = s.path("short.fit");
    spit(f, "0123456789");
    EXPECT_EQ(in_dir(s, [&] { tvwrite_(f.c_str(), "ABCD", &len, &bad); }), "error\n");
    EXPECT_EQ(in_dir(s, [&] { tvwrite_(f.c_str(), "ABCD", &bad, &pos); }), "error\n");
    EXPECT_EQ(slurp(f), "0123456789");

    // A name longer than any path is refused, not cut to another file's name.
    const std::string longname(5000, 'a');
    EXPECT_EQ(in_dir(s, [&] { tvwrite_(longname.c_str(), "ABCD", &len, &pos); }), "error\n");
}

TEST(WriteFits, FirstPieceCreatesLaterPiecesAppend) {
    Scratch s;
    const std::string f = s.path("out.fit");
    spit(f, "old contents that must go");
    int len = 3, create = 1, append = 0;
    writefits_(padded(f).c_str(), "abc", &len, &create);
    writefits_(padded(f).c_str(), "def", &len, &append);
    append = 7;
    writefits_(padded(f).c_str(), "ghi", &len, &append);
    EXPECT_EQ(slurp(f), "abcdefghi");

    const std::string missing = s.path("missing.fit");
    EXPECT_EQ(in_dir(s, [&] { writefits_(missing.c_str(), "abc", &len, &append); }), "error\n");
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(FileSize, PaddedNamesWorkAndUnopenableNamesGiveZero) {
    Scratch s;
    const std::string f = s.path("sz.fit");
    spit(f, std::string(2904, 'z'));
    int flen = -1;
    filesize_(padded(f).c_str(), &flen);
    EXPECT_EQ(flen, 2904);
    EXPECT_EQ(file_size(f.c_str()), 2904);

    filesize_(padded(s.path("none")).c_str(), &flen);
    EXPECT_EQ(flen, 0);
    EXPECT_EQ(file_size(s.dir.c_str()), 0); // a directory is no file

    // 79 characters are the most a name may have.
    std::filesystem::current_path(s.dir);
    const std::string n79(79, 'q'), n80(80, 'q');
    spit(n79, "12345");
    spit(n80.substr(0, 79), "12345");
    filesize_(padded(n79, 100).c_str(), &flen);
    EXPECT_EQ(flen, 5);
    filesize_(padded(n80, 100).c_str(), &flen);
    EXPECT_EQ(flen, 0);
    std::filesystem::current_path("/");
}

namespace {

std::string two_block_head(std::vector<std::pair<int, std::string>> cards) {
    std::string head(5760, ' ');
    for (auto& [j, text] : cards) head.replace(80 * j, 80, card(text));
    return head;
}

std::string line(const std::string& c) {
    return c.substr(0, 79) + "\r\n";
}

} // namespace

TEST(PrinterPage, HeaderCardsGoBetweenTheSequencesOverTheOldEject) {
    Scratch s;
    const std::string page = "PAGE-DATA" + std::string("\x1b&l0H", 5);
    spit(s.path("pgplot.hp"), page);
    std::vector<std::pair<int, std::string>> cards = {
        {10, "OBJECT  = 'M31'"}, {3, "DATE-OBS= '2026-12-08'"}, {12, "EXPOSURE=  300"}};
    for (int j = 0; j < 11; ++j) cards.push_back({40 + j, "GAL" + std::to_string(j)});
    cards.push_back({40, "GALLONG =  121.17"});
    const std::string head = two_block_head(cards);
    in_dir(s, [&] { writetail_(head.c_str()); });

    std::string want = "PAGE-DATA" + std::string(small, 24);
    want += line(head.substr(3 * 80, 80)) + line(head.substr(12 * 80, 80)) +
            line(head.substr(10 * 80, 80));
    for (int j = 40; j <= 50; ++j) want += line(head.substr(j * 80, 80));
    want += std::string(tail, 5);
    EXPECT_EQ(slurp(s.path("pgplot.hp")), want);
}

TEST(PrinterPage, GalacticBlockStopsAtTheLastCardAndBadPagesAreLeftAlone) {
    Scratch s;
    spit(s.path("pgplot.hp"), std::string("\x1b&l0H", 5));
    const std::string head = two_block_head({{68, "GALLONG =  10.0"}, {71, "LAST"}});
    in_dir(s, [&] { writetail_(head.c_str()); });
    std::string want = std::string(small, 24);
    for (int j = 68; j < 72; ++j) want += line(head.substr(j * 80, 80));
    EXPECT_EQ(slurp(s.path("pgplot.hp")), want + std::string(tail, 5));

    spit(s.path("pgplot.hp"), "abc");
    EXPECT_EQ(in_dir(s, [&] { writetail_(head.c_str()); }), "error\n");
    EXPECT_EQ(slurp(s.path("pgplot.hp")), "abc");
    std::filesystem::remove(s.path("pgplot.hp"));
    EXPECT_EQ(in_dir(s, [&] { writetail_(head.c_str()); }), "error\n");
    EXPECT_FALSE(std::filesystem::exists(s.path("pgplot.hp")));
}

namespace {

// "Tue Dec  8 05:29:38 2026\n": letters, blanks, digits and colons in their
// fixed places.
bool asctime_form(const std::string& t) {
    const std::string form = "Aaa Aaa _9 99:99:99 9999\n";
    if (t.size() != form.size()) return false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const unsigned char c = t[i];
        const char f = form[i];
        const bool ok = f == 'A'   ? std::isupper(c)
                        : f == 'a' ? std::islower(c)
                        : f == '9' ? std::isdigit(c)
                        : f == '_' ? (c == ' ' || std::isdigit(c))
                                   : c == static_cast<unsigned char>(f);
        if (!ok) return false;
    }
    return true;
}

} // namespace

TEST(Stamps, DateAndUserTextsHaveTheAsctimeForm) {
    char d[40];
    std::memset(d, '#', sizeof d);
    fdate_(d);
    EXPECT_EQ(std::strlen(d), 25u);
    EXPECT_TRUE(asctime_form(d)) << d;

    const char* old = std::getenv("USER");
    const std::string saved = old ? old : "";
    char u[128];
    setenv("USER", "observer", 1);
    usrid_(u);
    EXPECT_EQ(std::string(u).substr(0, 11), "observer---");
    EXPECT_TRUE(asctime_form(std::string("Mon") + (u + 11))) << u;

    unsetenv("USER");
    usrid_(u);
    EXPECT_EQ(std::strlen(u), 25u);
    EXPECT_EQ(std::string(u, 4), "--- ");

    setenv("USER", std::string(500, 'u').c_str(), 1); // longer than any login name
    usrid_(u);
    EXPECT_EQ(std::strlen(u), 32u + 25u);
    if (old)
        setenv("USER", saved.c_str(), 1);
    else
        unsetenv("USER");
}
