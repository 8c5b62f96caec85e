// Card search, byte order, the catalogue, the printer page, files in place
// and the user stamp.
#include "header_utils.h"
#include "helpers.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

using namespace pgctest;

namespace {

// Runs f in the scratch directory and returns what it printed.
template <class F> std::string in_dir(const Scratch& s, F f) {
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(s.dir);
    testing::internal::CaptureStdout();
    f();
    std::filesystem::current_path(old);
    return testing::internal::GetCapturedStdout();
}

} // namespace

TEST(Utils, StringsAndCardsMatchWholly) {
    EXPECT_EQ(pgc_index("abc", 'c'), 2);
    EXPECT_EQ(pgc_index("abc", 'x'), -1);
    EXPECT_EQ(pgc_index("abc", '\0'), -1);
    EXPECT_EQ(nindex("abcabc", "ca"), 2);
    EXPECT_EQ(nindex("abcabc", ""), -1);
    EXPECT_EQ(nindex("abc", "bcd"), -1); // would run past the end of a

    std::string head = blocks(card("SIMPLE  = T") + card("END"), 2);
    head.replace(71 * 80, 8, "GALLONG ");
    EXPECT_EQ(indexpos(head.data(), "END     ", 36), 1);
    EXPECT_EQ(indexpos(head.data(), "END\0\0\0\0\0", 36), 36); // unpadded never matches
    EXPECT_EQ(indexpos(head.data(), "SIMPLE  ", 0), 0);
    EXPECT_EQ(c_indexpos(head.data(), "GALLONG "), 71);
    EXPECT_EQ(c_indexpos(head.data(), "OBJECT  "), 72);
    char cards[2][80] = {};
    std::memcpy(cards[1], "END     ", 8);
    EXPECT_EQ(indexpos(cards, "END     ", 2), 1); // a card array, as C callers have it

    char b[] = {1, 2, 3, 4, 5, 6};
    swap4(b, 6); // the partial item at the end stays
    EXPECT_EQ(std::string(b, 6), std::string("\4\3\2\1\5\6", 6));
    swap2(b, 5);
    EXPECT_EQ(std::string(b, 6), std::string("\3\4\1\2\5\6", 6));
}

TEST(Utils, CatalogueHasItsFixedRows) {
    testing::internal::CaptureStdout();
    mokel_();
    const std::string out = testing::internal::GetCapturedStdout();
    for (const char* row : {"int  indexpos( head,f1,n )         char head[][80],f1[8]\n"
                            "                                   int n; (input, 36 or 72..)\n",
                            "int  c_indexpos(head,f1);          return 0--72\n",
                            "void swap4( a,nbyte )              float a[] or long a[]; int n\n",
                            "void white_black(map,n1,n2,peak,sigm)\n",
                            "void toms(aa,cc,k)                 float aa; char cc[12]; k=1,0,2\n",
                            "void tvcoordc_(f1,a)               write a[72][80] to fits_head\n",
                            "parbol(a,n,xpeak,sigma)                    least 2, up to x**4\n",
                            "toms(a,c,k)              r_a, c*12_a, k=1 for hour; =0 for deg\n"})
        EXPECT_NE(out.find(row), std::string::npos) << row;
    EXPECT_EQ(out.rfind("\n********** C subroutine ***************************\n", 0), 0u);
    EXPECT_NE(out.find("\n************* Fortran routine ***********\n"), std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 46 + 2); // two lines open with one
}

TEST(Utils, PrinterPageGetsTheCardsOverItsEject) {
    Scratch s;
    spit(s.path("pgplot.hp"), std::string("PAGE\x1b&l0H", 9));
    std::string head = blocks(card("OBJECT  = 'M31'") + card("DATE-OBS= '2026-12-08'"), 2);
    head.replace(68 * 80, 80, card("GALLONG =  10.0"));
    in_dir(s, [&] { writetail_(head.c_str()); });
    auto line = [&](int j) { return head.substr(80 * j, 79) + "\r\n"; };
    // DATE-OBS comes first; the galactic block stops at the last card.
    const std::string want = "PAGE" + std::string(small, 24) + line(1) + line(0) + line(68) +
                             line(69) + line(70) + line(71) + std::string(tail, 5);
    EXPECT_EQ(slurp(s.path("pgplot.hp")), want);

    spit(s.path("pgplot.hp"), "abc"); // no page: left alone
    EXPECT_EQ(in_dir(s, [&] { writetail_(head.c_str()); }), "error\n");
    EXPECT_EQ(slurp(s.path("pgplot.hp")), "abc");
}

TEST(Utils, FileRoutinesTouchNoFileTheyCannotOpen) {
    Scratch s;
    const std::string missing = padded(s.path("none.fit")), f = s.path("f.fit");
    char buf[8] = "keep";
    int len = 4, pos = 0, neg = -1, append = 0, create = 1, flen = -1;
    const std::string head(5760, 'H');
    EXPECT_EQ(in_dir(s, [&] { tvread_(missing.c_str(), buf, &len, &pos); }), "error\n");
    EXPECT_EQ(in_dir(s, [&] { tvwrite_(missing.c_str(), "ABCD", &len, &pos); }), "error\n");
    EXPECT_EQ(in_dir(s, [&] { tvcoordc_(missing.c_str(), head.c_str()); }), "error\n");
    EXPECT_EQ(in_dir(s, [&] { writefits_(missing.c_str(), "ABCD", &len, &append); }), "error\n");
    EXPECT_STREQ(buf, "keep");
    EXPECT_TRUE(std::filesystem::is_empty(s.dir));

    // tvcoordc_ puts both header blocks over the start of the file, in place.
    spit(f, std::string(10000, 'x'));
    tvcoordc_(padded(f).c_str(), head.c_str());
    EXPECT_EQ(slurp(f), head + std::string(10000 - 5760, 'x'));

    spit(f, "old contents");
    writefits_(padded(f).c_str(), "ABCD", &len, &create);
    EXPECT_EQ(in_dir(s, [&] { tvwrite_(padded(f).c_str(), "WXYZ", &len, &neg); }), "error\n");
    EXPECT_EQ(slurp(f), "ABCD");

    // filesize_ takes at most 79 characters and reads no byte behind them.
    std::filesystem::current_path(s.dir);
    spit(std::string(79, 'q'), "12345");
    filesize_(EdgeName(std::string(79, 'q')).at, &flen);
    EXPECT_EQ(flen, 5);
    flen = -1;
    filesize_(padded(std::string(80, 'q')).c_str(), &flen);
    EXPECT_EQ(flen, 5);
    std::filesystem::current_path("/");
    EXPECT_EQ(file_size(s.dir.c_str()), 0); // a directory is no file
}

TEST(Utils, UserStampWithoutUserOrWithAnOverlongOne) {
    const char* old = std::getenv("USER");
    const std::string saved = old ? old : "";
    char u[128];
    unsetenv("USER");
    usrid_(u);
    EXPECT_EQ(std::strlen(u), 25u);
    EXPECT_EQ(std::string(u, 4), "--- ");
    setenv("USER", std::string(500, 'u').c_str(), 1);
    usrid_(u);
    EXPECT_EQ(std::strlen(u), 32u + 25u);
    EXPECT_EQ(std::string(u + 32, 4), "--- ");
    old ? setenv("USER", saved.c_str(), 1) : unsetenv("USER");
}
