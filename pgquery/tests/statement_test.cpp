#include "statement.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace qor::pgq;

namespace {

std::string compose(Kind kind, const char* table, const char* keyval, const char* columns,
                    const char* keycol) {
    char buf[512];
    int n = compose_query(buf, sizeof buf, kind, table, keyval, columns, keycol);
    EXPECT_EQ(n, static_cast<int>(std::string(buf).size()));
    return buf;
}

TEST(Statement, KindsAreWholeLowerCaseNames) {
    EXPECT_EQ(query_kind("items"), Kind::items);
    EXPECT_EQ(query_kind("nitems"), Kind::nitems);
    EXPECT_EQ(query_kind("select"), Kind::select);
    EXPECT_EQ(query_kind("vselect"), Kind::vselect);
    for (const char* other : {"", "item", "itemsx", "SELECT", "vselect ", "delete"})
        EXPECT_EQ(query_kind(other), Kind::unknown) << other;
    EXPECT_EQ(query_kind(nullptr), Kind::unknown);
}

TEST(Statement, EachKindHasItsForm) {
    EXPECT_EQ(compose(Kind::items, "t", "v", "c", "k"), "SELECT k FROM t");
    EXPECT_EQ(compose(Kind::nitems, "t", "v", "c", "k"), "SELECT count(k) FROM t");
    EXPECT_EQ(compose(Kind::select, "t", "v", "c, d", "k"), "SELECT c, d FROM t where k='v'");
    EXPECT_EQ(compose(Kind::vselect, "t", "v", "c", "k"), "SELECT c FROM t where k='v'");
    char buf[8] = "x";
    EXPECT_EQ(compose_query(buf, sizeof buf, Kind::unknown, "t", "v", "c", "k"), -1);
}

TEST(Statement, OnlyExactStdNamesTheCatalogueColumn) {
    EXPECT_STREQ(key_column("__STD"), "name0x3b2d29");
    EXPECT_EQ(compose(Kind::items, "t", "", "", "__STD"), "SELECT name0x3b2d29 FROM t");
    for (const char* other : {"__std", "__Std", "__STD ", "_STD", "STD"})
        EXPECT_STREQ(key_column(other), other);
}

TEST(Statement, LengthIsCountedEvenWhenItDoesNotFit) {
    std::string key(600, 'k');
    char small[16];
    int n = compose_query(small, sizeof small, Kind::items, "t", "", "", key.c_str());
    EXPECT_EQ(n, 7 + 600 + 7); // "SELECT ", the key, " FROM t"
    EXPECT_EQ(std::string(small), std::string("SELECT ") + std::string(8, 'k'));
    EXPECT_EQ(compose_query(nullptr, 0, Kind::nitems, "t", "", "", "k"), 22);
}

TEST(Statement, MessagesAreAllocatedWhole) {
    std::string name(2000, 'n');
    char* text = format_message("Connection to database '%s' failed.\n%s", name.c_str(), "why\n");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), "Connection to database '" + name + "' failed.\nwhy\n");
    std::free(text);
    text = format_message("Too many (%d) connections to database\n", 20);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Too many (20) connections to database\n");
    std::free(text);
}

} // namespace
