// Card search, strings, byte order and the catalogue.
#include "header_utils.h"
#include "internal.h"
#include "scratch.h"

#include <gtest/gtest.h>
#include <sstream>
#include <vector>

using pgctest::card;

TEST(Strings, IndexAndNindexFindWholeMatchesOnly) {
    EXPECT_EQ(pgc_index("abc", 'c'), 2);
    EXPECT_EQ(pgc_index("abc", 'x'), -1);
    EXPECT_EQ(pgc_index("abc", '\0'), -1); // the terminator is never matched
    EXPECT_EQ(nindex("abcabc", "ca"), 2);
    EXPECT_EQ(nindex("abcabc", ""), -1);
    EXPECT_EQ(nindex("abc", "bcd"), -1); // would run past the end of a
    EXPECT_EQ(nindex("abc", "abc"), 0);
}

TEST(CardSearch, ComparesAllEightBytesOfTheKeyword) {
    const std::string head = card("SIMPLE  = T") + card("BZERO   = 32768") + card("END");
    EXPECT_EQ(indexpos(head.data(), "BZERO   ", 3), 1);
    EXPECT_EQ(indexpos(head.data(), "END     ", 3), 2);
    EXPECT_EQ(indexpos(head.data(), "END\0\0\0\0\0", 3), 3); // unpadded name never matches
    EXPECT_EQ(indexpos(head.data(), "BZERO   ", 1), 1);      // only the first n cards
    EXPECT_EQ(indexpos(head.data(), "SIMPLE  ", 0), 0);
    EXPECT_EQ(indexpos(head.data(), "SIMPLE  ", -5), 0);

    std::string two_blocks = pgctest::blocks(head, 2);
    two_blocks.replace(71 * 80, 8, "GALLONG ");
    EXPECT_EQ(c_indexpos(two_blocks.data(), "GALLONG "), 71);
    EXPECT_EQ(c_indexpos(two_blocks.data(), "OBJECT  "), 72);
}

TEST(ByteOrder, SwapsReverseItemsAndLeaveAnOddTail) {
    char four[] = {1, 2, 3, 4};
    swap4(four, 4);
    EXPECT_EQ(std::string(four, 4), std::string("\4\3\2\1", 4));

    char buf[] = {1, 2, 3, 4, 5};
    swap2(buf, 5);
    EXPECT_EQ(std::string(buf, 5), std::string("\2\1\4\3\5", 5));
    swap2(buf, 5);
    EXPECT_EQ(std::string(buf, 5), std::string("\1\2\3\4\5", 5));

    char six[] = {1, 2, 3, 4, 5, 6};
    swap4(six, 6); // a partial item at the end stays as it is
    EXPECT_EQ(std::string(six, 6), std::string("\4\3\2\1\5\6", 6));
}

TEST(Names, FortranNamesEndAtBlanksAndLongNamesAreRefused) {
    EXPECT_EQ(pgc::fortran_name("frame.fit       ", 60, true), "frame.fit");
    EXPECT_EQ(pgc::fortran_name("frame.fit\0junk", 60, true), "frame.fit");
    EXPECT_EQ(pgc::fortran_name("a\tb", 60, true), "a");
    EXPECT_EQ(pgc::fortran_name(" lead", 60, true), "");
    EXPECT_EQ(pgc::fortran_name("d\xe9.fit", 60, true), "d");
    EXPECT_EQ(pgc::fortran_name("d\xe9.fit", 60, false), "d\xe9.fit");
    const std::string sixty(60, 'n');
    EXPECT_EQ(pgc::fortran_name((sixty + "  ").c_str(), 60, true), sixty);
    EXPECT_EQ(pgc::fortran_name((sixty + "x ").c_str(), 60, true), "");
}

TEST(Cards, ValuesAreReadWithinTheCard) {
    const std::string c = card("NAXIS1  =                 4096 / width");
    EXPECT_EQ(pgc::card_int(c.data(), 20), 4096);
    EXPECT_EQ(pgc::card_int(card("BZERO   =                  -12 ").data(), 20), -12);
    EXPECT_FALSE(pgc::card_int(card("OBJECT  = 'M31'").data(), 20));
    EXPECT_DOUBLE_EQ(pgc::card_real(card("BZERO   =              32767.9").data(), 20).value(),
                     32767.9);
    // A card full of digits followed by more digits: only the card counts.
    const std::string digits(160, '1');
    EXPECT_EQ(pgc::card_int(digits.data(), 75), 11111);
}

TEST(Catalogue, PrintsItsFortySixLinesInTheirColumns) {
    testing::internal::CaptureStdout();
    mokel_();
    const std::string out = testing::internal::GetCapturedStdout();

    for (const char* row : {
             "int  indexpos( head,f1,n )         char head[][80],f1[8]\n",
             "                                   int n; (input, 36 or 72..)\n",
             "int  c_indexpos(head,f1);          return 0--72\n",
             "void swap4( a,nbyte )              float a[] or long a[]; int n\n",
             "void white_black(map,n1,n2,peak,sigm)\n",
             "void toms(aa,cc,k)                 float aa; char cc[12]; k=1,0,2\n",
             "void tvcoordc_(f1,a)               write a[72][80] to fits_head\n",
             "parbol(a,n,xpeak,sigma)                    least 2, up to x**4\n",
             "toms(a,c,k)              r_a, c*12_a, k=1 for hour; =0 for deg\n",
         })
        EXPECT_NE(out.find(row), std::string::npos) << row;

    const std::string c_head = "\n********** C subroutine ***************************\n";
    const std::string f_head = "\n************* Fortran routine ***********\n";
    ASSERT_EQ(out.rfind(c_head, 0), 0u);
    const std::size_t f_at = out.find(f_head);
    ASSERT_NE(f_at, std::string::npos);

    auto lines = [](const std::string& text) {
        std::vector<std::string> v;
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);) v.push_back(l);
        return v;
    };
    const auto c_rows = lines(out.substr(c_head.size(), f_at - c_head.size()));
    const auto f_rows = lines(out.substr(f_at + f_head.size()));
    ASSERT_EQ(c_rows.size(), 22u);
    ASSERT_EQ(f_rows.size(), 22u); // 2 headers + 44 rows = 46 lines
    for (const auto& l : c_rows) {
        if (l.size() <= 36 || l.find("  ") == std::string::npos) continue;
        EXPECT_EQ(l[34], ' ') << l;
        EXPECT_NE(l[35], ' ') << l;
    }
    for (const auto& l : f_rows) {
        if (l.find("  ") != std::string::npos) {
            EXPECT_EQ(l.size(), 62u) << l;
        }
    }
    EXPECT_EQ(out.find('%'), std::string::npos);
}

TEST(Stop, PrintsAndEndsWithStatusZero) {
    EXPECT_EXIT(stop("no more frames"), testing::ExitedWithCode(0), "");
}
