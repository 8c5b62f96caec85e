// The simulated camera database and the frames the simulated camera writes.
#include "camdb.h"
#include "frame.h"

#include "files.h"
#include "scratch.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace qor::sim;

namespace {

class Store : public ::testing::Test {
  protected:
    void SetUp() override {
        root = scratch.dir();
        setenv("QOR_ROOT", root.c_str(), 1);
    }
    void TearDown() override { unsetenv("QOR_ROOT"); }
    qor::test::Scratch scratch{"qorcamdb"};
    std::string root;
};

int card_int(const std::string& frame, int index) {
    return std::atoi(frame.c_str() + index * 80 + 20);
}

// Count of a pixel as the camera stored it: big-endian, offset by 32768.
int count_at(const std::string& frame, int width, int row, int column) {
    std::size_t at = header_bytes + 2 * (static_cast<std::size_t>(row) * width + column);
    auto hi = static_cast<unsigned char>(frame[at]);
    auto lo = static_cast<unsigned char>(frame[at + 1]);
    return static_cast<int>(static_cast<std::int16_t>(hi << 8 | lo)) + 32768;
}

} // namespace

TEST_F(Store, KeysAreNamesNeverPaths) {
    for (const char* bad : {"", "../etc", "a/b", ".hidden", "a b", "key\n", "k;x"}) {
        EXPECT_FALSE(valid_key(bad)) << bad;
        EXPECT_FALSE(db_set(bad, "1")) << bad;
        EXPECT_FALSE(db_get(bad)) << bad;
    }
    EXPECT_TRUE(valid_key("setups.qor.ss0.value"));
    EXPECT_TRUE(valid_key("imageid.exposures.7.ro_end"));
    EXPECT_FALSE(std::filesystem::exists(root + "/var/etc"));
}

TEST_F(Store, ValuesComeBackAsSetAndUnknownKeysAreAbsent) {
    EXPECT_FALSE(db_get("setups.qor.ss.value"));
    EXPECT_EQ(db_get_long("setups.variables.obsnum.value", -1), -1);
    ASSERT_TRUE(db_set("setups.qor.ss.value", "00"));
    EXPECT_EQ(db_get("setups.qor.ss.value"), "00");
    ASSERT_TRUE(db_set("setups.qor.ss.value", "10"));
    EXPECT_EQ(db_get("setups.qor.ss.value"), "10");
    db_set("setups.variables.obsnum.value", "42");
    EXPECT_EQ(db_get_long("setups.variables.obsnum.value", -1), 42);
    db_set("setups.variables.obsnum.value", "abc");
    EXPECT_EQ(db_get_long("setups.variables.obsnum.value", -1), -1);
    // No temporary file is left beside the keys.
    int files = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(camdb_dir())) ++files;
    EXPECT_EQ(files, 2);
}

TEST(Frame, LayoutIsTwoHeaderBlocksThenRowsWithOverscan) {
    FrameInfo info;
    info.side = 64;
    info.obsnum = 7;
    info.hundredths = 150;
    info.object = "M42";
    std::string f = make_frame(info);
    const int width = 64 + overscan_columns;
    ASSERT_EQ(f.size(), static_cast<std::size_t>(header_bytes + width * 64 * 2));
    EXPECT_EQ(f.compare(0, 6, "SIMPLE"), 0);
    EXPECT_EQ(card_int(f, 3), width); // NAXIS1
    EXPECT_EQ(card_int(f, 4), 64);    // NAXIS2
    EXPECT_EQ(card_int(f, 5), 0);     // column offset
    // The header ends in the second block.
    auto end = f.find("END     ");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(end % 80, 0u);
    EXPECT_GE(end, 2880u);
    EXPECT_LT(end, 5760u);
    EXPECT_NE(f.substr(51 * 80, 80).find("'M42"), std::string::npos);
    EXPECT_NE(f.substr(10 * 80, 80).find("1.50"), std::string::npos);

    // The overscan reads the bias of each detector half; the image lies above it.
    for (int row : {0, 31, 63}) {
        EXPECT_NEAR(count_at(f, width, row, 64 + 5), bias_left, 40);
        EXPECT_NEAR(count_at(f, width, row, 64 + 40), bias_right, 40);
        EXPECT_GT(count_at(f, width, row, 10), bias_left + sky_level / 2);
    }
}

TEST(Frame, ColumnsBeyondTheDetectorMiddleCarryTheRightHalfsBias) {
    FrameInfo info;
    info.side = 64;
    info.column_offset = 2048;
    std::string right = make_frame(info);
    info.column_offset = 0;
    std::string left = make_frame(info);
    const int width = 64 + overscan_columns;
    long diff = 0;
    for (int row = 0; row < 64; ++row) {
        for (int col = 0; col < 64; ++col) {
            diff += count_at(right, width, row, col) - count_at(left, width, row, col);
        }
    }
    EXPECT_EQ(diff / (64 * 64), bias_right - bias_left);
}
