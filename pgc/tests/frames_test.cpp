// Loading raw and FITS frames for the previews.
#include "fits_writer.h"
#include "frames.h"
#include "header_utils.h"
#include "scratch.h"

#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>

using pgctest::card;
using pgctest::FitsFrame;
using pgctest::Scratch;
using pgctest::value_card;
using pgctest::write_fits;

namespace {

std::vector<std::uint16_t> ramp(long n) {
    std::vector<std::uint16_t> v(n);
    for (long i = 0; i < n; ++i) v[i] = static_cast<std::uint16_t>(i * 37);
    return v;
}

std::string raw_head(int n1, int n2, int coloff) {
    std::string h = card("SIMPLE  =                    T") + value_card("BITPIX", 16) +
                    value_card("NAXIS", 2) + value_card("NAXIS1", n1) + value_card("NAXIS2", n2) +
                    value_card("COLOFF", coloff) + card("END");
    return pgctest::blocks(h, 2);
}

// A raw frame whose stored pixel at (row, col) is row * 7 + col - 32768,
// big-endian, cut to whole rows or bytes as asked.
std::string raw_frame(int n1, int n2, int coloff, long bytes = -1) {
    std::string data(2L * n1 * n2, '\0');
    for (long r = 0; r < n2; ++r)
        for (long c = 0; c < n1; ++c) {
            const auto v = static_cast<std::uint16_t>(r * 7 + c - 32768);
            data[2 * (r * n1 + c)] = static_cast<char>(v >> 8);
            data[2 * (r * n1 + c) + 1] = static_cast<char>(v & 0xFF);
        }
    if (bytes >= 0) data.resize(bytes);
    return raw_head(n1, n2, coloff) + data;
}

// Stand-in for the overscan step: byte order and half counts only, and a
// record of how it was called.
int seen_n1, seen_n2, seen_c;
long rows_seen;
void half_counts(short* row, int n1, int n2, int c) {
    seen_n1 = n1, seen_n2 = n2, seen_c = c;
    ++rows_seen;
    for (int j = 0; j < n1; ++j) {
        const auto u = static_cast<std::uint16_t>(row[j]);
        const auto v = static_cast<short>(static_cast<std::uint16_t>((u >> 8) | (u << 8)));
        row[j] = static_cast<short>((v + 32768) >> 1);
    }
}

FitsFrame fits_frame(long nx, long ny, int bitpix, int datatype, const void* values) {
    FitsFrame f;
    f.nx = nx, f.ny = ny, f.bitpix = bitpix, f.datatype = datatype, f.values = values;
    return f;
}

short expect_raw(long r, long c) {
    return static_cast<short>((r * 7 + c) >> 1);
}

} // namespace

TEST(RawFrames, FullFrameKeepsTheSquareImageAndDropsTheOverscan) {
    Scratch s;
    const std::string f = s.path("d1.ccd");
    pgctest::spit(f, raw_frame(4160, 4096, 12));
    pgc::Frame fr;
    rows_seen = 0;
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(pgc::load_raw(f, fr, half_counts), pgc::Load::ok) << fr.message;
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    RecordProperty("load_seconds", std::to_string(secs));
    EXPECT_LT(secs, 2.0); // a fraction of a second on the observing host

    EXPECT_EQ(rows_seen, 4096);
    EXPECT_EQ(seen_n1, 4160);
    EXPECT_EQ(seen_n2, 4096);
    EXPECT_EQ(seen_c, 12);
    EXPECT_EQ(fr.side, 4096);
    EXPECT_EQ(fr.mm, 8);
    EXPECT_EQ(fr.missing_rows, 0);
    ASSERT_EQ(fr.pix.size(), 4096u * 4096u);
    for (long r : {0L, 1L, 2047L, 4095L})
        for (long c : {0L, 1L, 4095L}) EXPECT_EQ(fr.pix[r * 4096 + c], expect_raw(r, c));
    EXPECT_EQ(std::string(fr.head.data() + 3 * 80, 8), "NAXIS1  ");
}

TEST(RawFrames, SmallFrameIsPaddedWithZerosToWholeBlocks) {
    Scratch s;
    const std::string f = s.path("d2.ccd");
    pgctest::spit(f, raw_frame(300 + 64, 300, 0));
    pgc::Frame fr;
    ASSERT_EQ(pgc::load_raw(f, fr, half_counts), pgc::Load::ok);
    EXPECT_EQ(fr.mm, 1);
    ASSERT_EQ(fr.pix.size(), 512u * 512u);
    EXPECT_EQ(fr.pix[299 * 300 + 299], expect_raw(299, 299)); // row stride is the side
    EXPECT_EQ(fr.pix[300 * 300], 0);
    EXPECT_EQ(fr.pix.back(), 0);
}

TEST(RawFrames, TruncatedAndBadFramesLoseNothingAndSayWhy) {
    Scratch s;
    const std::string f = s.path("d3.ccd");
    // Ten whole rows and half of the eleventh.
    pgctest::spit(f, raw_frame(1088, 1024, 0, 2L * 1088 * 10 + 1000));
    pgc::Frame fr;
    rows_seen = 0;
    ASSERT_EQ(pgc::load_raw(f, fr, half_counts), pgc::Load::ok);
    EXPECT_EQ(rows_seen, 10);
    EXPECT_EQ(fr.missing_rows, 1014);
    EXPECT_NE(fr.message.find("10 of 1024 rows"), std::string::npos) << fr.message;
    EXPECT_EQ(fr.pix[9 * 1024 + 5], expect_raw(9, 5));
    EXPECT_EQ(fr.pix[10 * 1024 + 5], 0);

    EXPECT_EQ(pgc::load_raw(s.path("none.ccd"), fr, half_counts), pgc::Load::cannot_open);

    pgctest::spit(f, raw_head(1088, 1024, 0).substr(0, 3000));
    EXPECT_EQ(pgc::load_raw(f, fr, half_counts), pgc::Load::bad_frame);
    for (auto [n1, n2] : {std::pair{4224, 4096}, {1000, 1024}, {20, 10}, {64, 0}, {5000, 4999}}) {
        pgctest::spit(f, raw_head(n1, n2, 0) + std::string(4096, '\0'));
        EXPECT_EQ(pgc::load_raw(f, fr, half_counts), pgc::Load::bad_frame) << n1 << " " << n2;
        EXPECT_FALSE(fr.message.empty());
    }
}

TEST(FitsFrames, UnsignedCountsFromAnotherWriterBecomeHalfCounts) {
    Scratch s;
    const std::string f = s.path("u.fit");
    auto v = ramp(1024 * 1024);
    v[0] = 0;
    v[1] = 65535;
    v[2] = 32768;
    FitsFrame ff = fits_frame(1024, 1024, USHORT_IMG, TUSHORT, v.data());
    ASSERT_EQ(write_fits(f, ff), 5760);
    pgc::Frame fr;
    ASSERT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::ok) << fr.message;
    EXPECT_DOUBLE_EQ(fr.bzero, 32768.0);
    EXPECT_EQ(fr.side, 1024);
    EXPECT_EQ(fr.mm, 2);
    de_f64(fr.pix.data(), fr.bzero, fr.side, fr.side);
    EXPECT_EQ(fr.pix[0], 0);
    EXPECT_EQ(fr.pix[1], 32767);
    EXPECT_EQ(fr.pix[2], 16384);
    for (long i : {3L, 1025L, 1024L * 1024 - 1}) EXPECT_EQ(fr.pix[i], v[i] >> 1) << i;
}

TEST(FitsFrames, BzeroIsTakenAsItsIntegerPartWhereverItStands) {
    Scratch s;
    const std::string f = s.path("s.fit");
    std::vector<short> v(512 * 512, 100);
    v[0] = -32768;
    v[1] = 32767;
    v[2] = 0;
    for (auto [bzero, lo, hi] : {std::tuple{0.0, -16384, 16383}, {32767.9, -1, 32767}}) {
        FitsFrame ff = fits_frame(512, 512, SHORT_IMG, TSHORT, v.data());
        ff.bzero = bzero;
        ff.bzero_after_comments = 30;
        ASSERT_EQ(write_fits(f, ff), 5760);
        pgc::Frame fr;
        ASSERT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::ok);
        EXPECT_GT(c_indexpos(fr.head.data(), "BZERO   "), 30);
        EXPECT_DOUBLE_EQ(fr.bzero, bzero);
        de_f64(fr.pix.data(), fr.bzero, 512, 512);
        EXPECT_EQ(fr.pix[0], lo);
        EXPECT_EQ(fr.pix[1], hi);
        EXPECT_EQ(fr.pix[3], (100 + static_cast<int>(bzero)) >> 1);
    }

    // No BZERO card: the standard's default of 0, and a note about it.
    FitsFrame ff = fits_frame(512, 512, SHORT_IMG, TSHORT, v.data());
    write_fits(f, ff);
    pgc::Frame fr;
    ASSERT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::ok);
    EXPECT_EQ(fr.bzero, 0.0);
    EXPECT_NE(fr.message.find("BZERO"), std::string::npos);
    EXPECT_EQ(fr.pix[1], 32767);
}

TEST(FitsFrames, FramesThatAreNotSquareOrWholeBlocks) {
    Scratch s;
    const std::string f = s.path("w.fit");
    auto v = ramp(768 * 512);
    FitsFrame ff = fits_frame(768, 512, USHORT_IMG, TUSHORT, v.data());
    write_fits(f, ff);
    pgc::Frame fr;
    ASSERT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::ok);
    EXPECT_EQ(fr.side, 512);
    de_f64(fr.pix.data(), fr.bzero, 512, 512);
    EXPECT_EQ(fr.pix[1 * 512 + 0], v[1 * 768 + 0] >> 1); // the real row start
    EXPECT_EQ(fr.pix[511 * 512 + 511], v[511 * 768 + 511] >> 1);
    ASSERT_EQ(pgc::load_fits(f, fr, pgc::Rows::file_order), pgc::Load::ok);
    de_f64(fr.pix.data(), fr.bzero, 512, 512);
    EXPECT_EQ(fr.pix[1 * 512 + 0], v[512] >> 1); // rows laid end to end

    auto w = ramp(700 * 700);
    FitsFrame odd = fits_frame(700, 700, USHORT_IMG, TUSHORT, w.data());
    write_fits(f, odd);
    ASSERT_EQ(pgc::load_fits(f, fr, pgc::Rows::file_order), pgc::Load::ok);
    EXPECT_EQ(fr.mm, 2);
    ASSERT_EQ(fr.pix.size(), 1024u * 1024u);
    EXPECT_EQ(fr.pix[700 * 700], 0); // behind the image, not the file's padding
    EXPECT_EQ(fr.pix.back(), 0);
}

TEST(FitsFrames, PixelsStartBehindTheBlockHoldingEnd) {
    Scratch s;
    const std::string f = s.path("e.fit");
    auto v = ramp(512 * 512);
    for (int blocks : {1, 2, 3}) {
        FitsFrame ff = fits_frame(512, 512, USHORT_IMG, TUSHORT, v.data());
        ff.header_blocks = blocks;
        ASSERT_EQ(write_fits(f, ff), 2880 * blocks);
        pgc::Frame fr;
        ASSERT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::ok);
        EXPECT_EQ(fr.message, "");
        de_f64(fr.pix.data(), fr.bzero, 512, 512);
        EXPECT_EQ(fr.pix[0], v[0] >> 1) << blocks;
        EXPECT_EQ(fr.pix[512 * 512 - 1], v[512 * 512 - 1] >> 1) << blocks;
    }

    // Without END and BZERO the two-block layout is assumed, and said.
    std::string head =
        pgctest::blocks(value_card("BITPIX", 16) + value_card("NAXIS", 2) + value_card("NAXIS", 2) +
                            value_card("NAXIS1", 512) + value_card("NAXIS2", 512),
                        2);
    std::string data(2 * 512 * 512, '\0');
    data[1] = 9;
    pgctest::spit(f, head + data);
    pgc::Frame fr;
    ASSERT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::ok);
    EXPECT_NE(fr.message.find("no END"), std::string::npos) << fr.message;
    EXPECT_NE(fr.message.find("no BZERO"), std::string::npos) << fr.message;
    EXPECT_EQ(fr.pix[0], 9);
}

TEST(FitsFrames, TruncatedOrForeignFramesAreHandledAndReported) {
    Scratch s;
    const std::string f = s.path("t.fit");
    auto v = ramp(512 * 512);
    FitsFrame ff = fits_frame(512, 512, USHORT_IMG, TUSHORT, v.data());
    write_fits(f, ff);
    std::filesystem::resize_file(f, 5760 + 2 * 512 * 100);
    pgc::Frame fr;
    ASSERT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::ok);
    EXPECT_EQ(fr.missing_rows, 412);
    EXPECT_FALSE(fr.message.empty());
    EXPECT_EQ(fr.pix[99 * 512 + 3], static_cast<short>(v[99 * 512 + 3] - 32768));
    EXPECT_EQ(fr.pix[100 * 512 + 3], 0);

    std::vector<float> fl(512 * 512, 1.5f);
    FitsFrame ffl = fits_frame(512, 512, FLOAT_IMG, TFLOAT, fl.data());
    write_fits(f, ffl);
    EXPECT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::bad_frame);
    EXPECT_NE(fr.message.find("BITPIX -32"), std::string::npos);

    EXPECT_EQ(pgc::load_fits(s.path("none.fit"), fr, pgc::Rows::naxis1_rows),
              pgc::Load::cannot_open);
    pgctest::spit(f, raw_head(5000, 5000, 0));
    EXPECT_EQ(pgc::load_fits(f, fr, pgc::Rows::naxis1_rows), pgc::Load::bad_frame);
}
