// Loading raw and FITS frames, and readfits_, on frames from other writers.
#include "frames.h"
#include "header_utils.h"
#include "helpers.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <vector>

using namespace pgctest;

namespace {

// A raw frame: stored pixel (r, c) = r * 7 + c - 32768, big-endian.
std::string raw_frame(int n1, int n2, int coloff) {
    std::string d = blocks(value_card("BITPIX", 16) + value_card("NAXIS", 2) + card("") +
                               value_card("NAXIS1", n1) + value_card("NAXIS2", n2) +
                               value_card("COLSTART", coloff) + card("END"),
                           2);
    for (long r = 0; r < n2; ++r)
        for (long c = 0; c < n1; ++c) {
            const auto v = static_cast<std::uint16_t>(r * 7 + c - 32768);
            d += {static_cast<char>(v >> 8), static_cast<char>(v)};
        }
    return d;
}

short raw_value(long r, long c) {
    return static_cast<short>((r * 7 + c) >> 1);
}

// Stands in for the overscan step: host order and half counts, and a record
// of its calls.
int seen[4];
void half_counts(short* row, int n1, int n2, int c) {
    seen[0] = n1, seen[1] = n2, seen[2] = c, ++seen[3];
    swap2(reinterpret_cast<char*>(row), 2 * n1);
    for (int j = 0; j < n1; ++j) row[j] = static_cast<short>((row[j] + 32768) >> 1);
}

} // namespace

TEST(Frames, RawFrameKeepsTheSquareImageAndDropsTheOverscan) {
    Scratch s;
    spit(s.path("d.ccd"), raw_frame(4160, 4096, 12));
    pgc::Frame fr;
    ASSERT_EQ(pgc::load_raw(s.path("d.ccd"), fr, half_counts), pgc::Load::ok) << fr.message;
    EXPECT_EQ(std::vector<int>(seen, seen + 4), (std::vector<int>{4160, 4096, 12, 4096}));
    EXPECT_EQ(fr.mm, 8);
    ASSERT_EQ(fr.pix.size(), 4096u * 4096u);
    for (long r : {0L, 2047L, 4095L})
        for (long c : {0L, 1L, 4095L}) EXPECT_EQ(fr.pix[r * 4096 + c], raw_value(r, c));
}

TEST(Frames, TruncatedFramesKeepWhatTheyHoldAndBadOnesAreRefused) {
    Scratch s;
    const std::string f = s.path("d.ccd");
    spit(f, raw_frame(364, 300, 0).substr(0, 5760 + 2 * 364 * 10 + 100)); // 10 rows and a bit
    pgc::Frame fr;
    ASSERT_EQ(pgc::load_raw(f, fr, half_counts), pgc::Load::ok);
    EXPECT_NE(fr.message.find("10 of 300 rows"), std::string::npos) << fr.message;
    EXPECT_EQ(fr.pix.size(), 512u * 512u); // whole blocks, the rest 0
    EXPECT_EQ(fr.pix[9 * 300 + 5], raw_value(9, 5));
    EXPECT_EQ(fr.pix[10 * 300 + 5], 0);

    std::vector<std::uint16_t> v(512 * 512, 40000);
    write_fits(s.path("t.fit"), 512, 512, USHORT_IMG, TUSHORT, v.data());
    std::filesystem::resize_file(s.path("t.fit"), 5760 + 2 * 512 * 100);
    ASSERT_EQ(pgc::load_fits(s.path("t.fit"), fr, pgc::Rows::naxis1_rows), pgc::Load::ok);
    EXPECT_EQ(fr.missing_rows, 412);
    EXPECT_EQ(fr.pix[99 * 512] - fr.pix[100 * 512], 40000 - 32768);

    EXPECT_EQ(pgc::load_raw(s.path("none"), fr, half_counts), pgc::Load::cannot_open);
    spit(f, raw_frame(364, 300, 0).substr(0, 5000));
    EXPECT_EQ(pgc::load_raw(f, fr, half_counts), pgc::Load::bad_frame);
    for (auto [n1, n2] : {std::pair{4224, 4096}, {1000, 1024}, {20, 10}, {64, 0}}) {
        spit(f, raw_frame(n1, 1, 0).replace(4 * 80, 80, value_card("NAXIS2", n2)));
        EXPECT_EQ(pgc::load_raw(f, fr, half_counts), pgc::Load::bad_frame) << n1 << " " << n2;
    }
    // A size that is text or beyond any int is named as it stands, not as 0.
    for (auto [value, said] :
         {std::pair<std::string, std::string>{"     'wide'", "NAXIS1 ''wide'' (not a number)"},
          {"99999999999", "NAXIS1 99999999999 (out of range)"},
          {"           ", "NAXIS1 has no value"}}) {
        const std::string naxis1 = card("NAXIS1  =           " + value);
        spit(f, raw_frame(64, 1, 0).replace(3 * 80, 80, naxis1));
        EXPECT_EQ(pgc::load_raw(f, fr, half_counts), pgc::Load::bad_frame);
        EXPECT_NE(fr.message.find(said), std::string::npos) << fr.message;
        spit(f, raw_frame(64, 64, 0).replace(3 * 80, 80, naxis1));
        EXPECT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::bad_frame);
        EXPECT_NE(fr.message.find(said), std::string::npos) << fr.message;
    }
    std::vector<float> fl(64 * 64, 1.5f);
    write_fits(f, 64, 64, FLOAT_IMG, TFLOAT, fl.data());
    EXPECT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::bad_frame);
}

TEST(Frames, FitsFramesOfAnotherWriterComeOutInPreviewUnits) {
    Scratch s;
    const std::string f = s.path("u.fit");
    std::vector<std::uint16_t> v(768 * 512);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint16_t>(i * 37);
    v[0] = 0, v[1] = 65535, v[2] = 32768;
    pgc::Frame fr;
    for (int blocks : {1, 2, 3}) { // pixels start behind the block holding END
        ASSERT_EQ(write_fits(f, 768, 512, USHORT_IMG, TUSHORT, v.data(), blocks), 2880 * blocks);
        ASSERT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::ok);
        EXPECT_EQ(fr.side, 512);
        de_f64(fr.pix.data(), fr.bzero, 512, 512);
        EXPECT_EQ(std::vector<short>(fr.pix.begin(), fr.pix.begin() + 3),
                  (std::vector<short>{0, 32767, 16384}));
        EXPECT_EQ(fr.pix[511 * 512 + 3], v[511 * 768 + 3] >> 1); // rows as long as NAXIS1
    }

    // BZERO anywhere, its integer part; none at all counts as 0 and is said.
    std::vector<short> w(512 * 512, 100);
    w[0] = -32768, w[1] = 32767;
    for (double z : {32767.9, 0.0}) {
        write_fits(f, 512, 512, SHORT_IMG, TSHORT, w.data(), 2, z == 0.0 ? nullptr : &z);
        ASSERT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::ok);
        EXPECT_EQ(fr.message.find("no BZERO") != std::string::npos, z == 0.0);
        de_f64(fr.pix.data(), fr.bzero, 512, 512);
        EXPECT_EQ(fr.pix[0], z == 0.0 ? -16384 : -1);
        EXPECT_EQ(fr.pix[1], z == 0.0 ? 16383 : 32767);
    }
}

TEST(Frames, ReadfitsGivesEveryPixelSizeBehindAThreeBlockHeader) {
    Scratch s;
    const std::string f = s.path("r.fit"), name = padded(f);
    const long nx = 37, ny = 11, n = nx * ny;
    std::vector<double> d(n);
    std::vector<unsigned char> bytes(n);
    for (long i = 0; i < n; ++i) d[i] = (i % 97) * 300.5 - (i % 5) * 1000, bytes[i] = i * 7 % 256;
    std::vector<char> got(8 * n);
    int n1 = 0, n2 = 0;
    auto check = [&](int bitpix, int type, const auto& in, const void* want, std::size_t size) {
        ASSERT_EQ(write_fits(f, nx, ny, bitpix, type, in.data(), 3), 3 * 2880);
        readfits_(name.c_str(), got.data(), &n1, &n2);
        EXPECT_EQ(n1 * 100 + n2, nx * 100 + ny);
        EXPECT_EQ(std::memcmp(got.data(), want, size * n), 0) << bitpix;
    };
    const std::vector<short> v16(d.begin(), d.end());
    const std::vector<float> v32(d.begin(), d.end());
    check(SHORT_IMG, TSHORT, v16, v16.data(), 2);
    check(FLOAT_IMG, TFLOAT, v32, v32.data(), 4);
    check(BYTE_IMG, TBYTE, bytes, bytes.data(), 1);
    std::vector<double> be = d; // 8-byte reals stay big-endian, as stored
    for (double& x : be) std::reverse(reinterpret_cast<char*>(&x), reinterpret_cast<char*>(&x) + 8);
    check(DOUBLE_IMG, TDOUBLE, d, be.data(), 8);
}

// The chain's 72-card header may end in its first block; the second is then a
// blank header block and the pixels still start at 5760. A one-block header
// is followed by its pixels at 2880; pixels that happen to read as blanks
// there are told apart by the file's length.
TEST(Frames, PixelsStartBehindTheWholeHeader) {
    Scratch s;
    const std::string f = s.path("h.fit");
    const std::string cards = card("SIMPLE  =                    T") + value_card("BITPIX", 16) +
                              value_card("NAXIS", 2) + value_card("NAXIS1", 64) +
                              value_card("NAXIS2", 64) + value_card("BZERO", 0) + card("END");
    std::string px;
    for (int i = 1; i <= 64 * 64; ++i) px += {static_cast<char>(i >> 8), static_cast<char>(i)};
    pgc::Frame fr;
    for (int header_blocks : {2, 1}) {
        spit(f, blocks(cards, header_blocks) + px);
        ASSERT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::ok) << fr.message;
        EXPECT_EQ(fr.pix[0], 1) << header_blocks;
        EXPECT_EQ(fr.pix[64 * 64 - 1], 64 * 64);
        EXPECT_EQ(fr.missing_rows, 0);
    }
    spit(f, blocks(cards, 1) + std::string(2880, ' ') + px.substr(2880));
    ASSERT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::ok) << fr.message;
    EXPECT_EQ(fr.pix[0], 0x2020);
    EXPECT_EQ(fr.pix[1440], 1441);
}

// Loads the frame with at most 512 MB of address space and exits 0 when it
// loaded its first row and said that the rest is missing.
[[noreturn]] void load_with_little_memory(const std::string& f) {
#ifndef __SANITIZE_ADDRESS__ // the sanitizer reserves more address space than this
    const rlimit limit{512L << 20, 512L << 20};
    setrlimit(RLIMIT_AS, &limit);
#endif
    pgc::Frame fr;
    const bool ok = pgc::load_fits(f, fr, pgc::Rows::naxis1_rows) == pgc::Load::ok &&
                    fr.missing_rows == 511 && fr.message.find("1 of 512 rows") != std::string::npos;
    std::exit(ok ? 0 : 1);
}

// Sizes come from the header, but allocations are bounded by the largest
// frame: a NAXIS1 of two thousand million only spaces out the rows, which
// the file does not hold, and a header alone holds no row at all.
TEST(Frames, CorruptSizesAllocateNothingBeyondTheLargestFrame) {
    Scratch s;
    const std::string f = s.path("big.fit");
    std::string header = blocks(card("SIMPLE  =                    T") + value_card("BITPIX", 16) +
                                    value_card("NAXIS", 2) + value_card("NAXIS1", 2000000000) +
                                    value_card("NAXIS2", 512) + card("END"),
                                2);
    spit(f, header + std::string(2 * 512 * 512, '\0'));
    EXPECT_EXIT(load_with_little_memory(f), testing::ExitedWithCode(0), "");

    pgc::Frame fr;
    spit(f, header);
    EXPECT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::bad_frame);
    EXPECT_NE(fr.message.find("holds not one row"), std::string::npos) << fr.message;
    spit(s.path("d.ccd"), raw_frame(576, 512, 0).substr(0, 5760 + 1000));
    EXPECT_EQ(pgc::load_raw(s.path("d.ccd"), fr, half_counts), pgc::Load::bad_frame);
}
