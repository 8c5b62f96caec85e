// The installed flatbuild in a simulated site: the reference on disk from a
// flat written by cfitsio.
#include "helpers.h"
#include "temp_site.h"

#include "files.h"

#include <cstring>
#include <gtest/gtest.h>

using qor::test::TempSite;

TEST(FlatbuildInstalled, WritesTheReferenceOfAFullFlat) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    // A full flat of background 2000 counts with a dark corner: centre 2000.
    std::vector<std::uint16_t> v(4096L * 4096, 2000);
    std::fill_n(v.begin(), 100, 0);
    const std::string flat = site.path("/data/dFLAT.fit");
    pgctest::write_fits(flat, 4096, 4096, USHORT_IMG, TUSHORT, v.data());
    auto r = site.capture({site.tool("flatbuild"), flat});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "center ADU: 2000.000000\n");
    const auto ref = qor::read_file(site.path("/u/tarnu/flatref"));
    ASSERT_TRUE(ref);
    ASSERT_EQ(ref->size(), 2u * 4096 * 4096 + 4);
    float level = 0;
    std::memcpy(&level, ref->data() + ref->size() - 4, 4);
    EXPECT_EQ(level, 2000.0f);
    short first = 0, last = 0;
    std::memcpy(&first, ref->data(), 2);
    std::memcpy(&last, ref->data() + ref->size() - 6, 2);
    EXPECT_EQ(first, 1); // the dark corner, held above 0
    EXPECT_EQ(last, 1000);
}
