// The library's Fortran-callable readers of whole images and windows.
#include "fits_writer.h"
#include "frames.h"
#include "scratch.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>

using pgctest::card;
using pgctest::Scratch;
using pgctest::spit;

namespace {

std::string be_float(float v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    return {static_cast<char>(u >> 24), static_cast<char>(u >> 16), static_cast<char>(u >> 8),
            static_cast<char>(u)};
}

std::string be_short(short v) {
    const auto u = static_cast<std::uint16_t>(v);
    return {static_cast<char>(u >> 8), static_cast<char>(u & 0xFF)};
}

// A float image with rows of 2048 behind a header of the given number of
// blocks; each pixel holds its own index from the start of the data, so a
// value tells where it was read. Some pixels are replaced.
std::string float_image(int header_blocks, int rows,
                        std::vector<std::pair<long, float>> replace = {}) {
    std::string head = card("SIMPLE  =                    T");
    head.resize((header_blocks - 1) * 2880 + 80, ' ');
    head += card("END");
    head = pgctest::blocks(head, header_blocks);
    std::vector<float> v(2048L * rows);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i);
    for (auto [i, x] : replace) v[i] = x;
    std::string data;
    data.reserve(v.size() * 4);
    for (float x : v) data += be_float(x);
    return head + data;
}

// A Fortran character variable holding the name.
std::string padded(const std::string& name) {
    std::string s = name;
    s.resize(100, ' ');
    return s;
}

template <class F> std::string printed(F f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

} // namespace

TEST(Readcn, PacksTheRowsThatLieInsideTheImage) {
    Scratch s;
    const std::string f = s.path("img.fit");
    const long neg = 2041L * 2048 + 6;
    spit(f, float_image(2, 2047, {{neg, -3.0f}}));
    const std::string name = padded(f);

    std::vector<float> a(100, -7.0f);
    int ix = 5, iy = 2040, n = 10;
    readcn_(name.c_str(), a.data(), &ix, &iy, &n);
    for (int k = 0; k < 7; ++k)
        for (int j = 0; j < 10; ++j) {
            const long i = (2040L + k) * 2048 + 5 + j;
            EXPECT_EQ(a[k * 10 + j], i == neg ? 0.0f : static_cast<float>(i)) << k << " " << j;
        }
    for (int i = 70; i < 100; ++i) EXPECT_EQ(a[i], -7.0f);

    // Rows above the image are skipped and the later rows move forward.
    std::fill(a.begin(), a.end(), -7.0f);
    iy = -3, n = 5;
    readcn_(name.c_str(), a.data(), &ix, &iy, &n);
    EXPECT_EQ(a[0], 5.0f);
    EXPECT_EQ(a[5], 2048.0f + 5);
    EXPECT_EQ(a[10], -7.0f);

    // Sides beyond the row buffer read nothing.
    std::fill(a.begin(), a.end(), -7.0f);
    for (int bad : {0, -4, 2049}) {
        readcn_(name.c_str(), a.data(), &ix, &iy, &bad);
        EXPECT_EQ(a[0], -7.0f);
    }
}

TEST(Readcc, TurnsTheWindowAndKeepsTheFillOutsideTheImage) {
    Scratch s;
    const std::string f = s.path("img.fit");
    spit(f, float_image(1, 200, {{9L * 2048 + 49 + 3, -2.0f}}));
    std::vector<float> map(101 * 101, 99.0f);
    int ix = 100, iy = 10;
    readcc_(padded(f).c_str(), map.data(), &ix, &iy);
    for (int k = 61; k <= 100; ++k)
        for (int j = 0; j < 101; ++j) ASSERT_EQ(map[k * 101 + j], -1.0f) << k;
    // Row 0 would lie before the start of the file: it keeps the fill.
    EXPECT_EQ(map[60 * 101 + 7], -1.0f);
    for (int t = 41; t <= 100; ++t) { // window rows 1 .. 60
        const long r = 10 - 50 + t;
        for (int j = 0; j < 101; ++j) {
            const long i = (r - 1) * 2048 + 49 + j;
            const float want = (r == 10 && j == 3) ? 0.0f : static_cast<float>(i);
            ASSERT_EQ(map[(100 - t) * 101 + (100 - j)], want) << t << " " << j;
        }
    }
}

TEST(Readc, QuartersAndClampsTheFloats) {
    Scratch s;
    const std::string f = s.path("img.fit");
    const long neg = 9L * 2048 + 9, nan = 9L * 2048 + 10;
    spit(f, float_image(2, 200, {{neg, -50.0f}, {nan, NAN}}));
    std::vector<short> map(101 * 101, 1);
    int ix = 60, iy = 60;
    readc_(padded(f).c_str(), map.data(), &ix, &iy);
    for (int t = 0; t < 101; ++t) {
        const long r = 10 + t;
        for (int j = 0; j < 101; ++j) {
            const long i = (r - 1) * 2048 + 9 + j;
            const float q = 0.25f * static_cast<float>(i);
            const short want =
                (i == neg || i == nan) ? 0 : static_cast<short>(std::min(q, 32766.0f));
            ASSERT_EQ(map[t * 101 + j], want) << t << " " << j;
        }
    }
}

TEST(Readd, ReversesRowsAndClampsSixteenBitPixels) {
    Scratch s;
    const std::string f = s.path("img.ccd");
    const int nx = 300, ny = 200;
    std::string data = std::string(8640, ' ');
    for (long i = 0; i < nx * ny; ++i) {
        short v = static_cast<short>(i % 30000);
        if (i == 139L * nx + 9) v = -5;
        if (i == 139L * nx + 10) v = 32767;
        data += be_short(v);
    }
    spit(f, data);
    std::vector<short> map(101 * 101, 1);
    int ix = 60, iy = 180, nxa = nx, nya = ny;
    readd_(padded(f).c_str(), map.data(), &ix, &iy, &nxa, &nya);
    for (int t = 0; t < 101; ++t) {
        const long r = 130 + t;
        for (int j = 0; j < 101; ++j) {
            short want = 32767; // rows from ny - 1 on are not read
            if (r < ny - 1) {
                const long i = (r - 1) * nx + 9 + j;
                want = i == 139L * nx + 9 ? 0 : (i == 139L * nx + 10 ? 32766 : i % 30000);
            }
            ASSERT_EQ(map[(100 - t) * 101 + j], want) << t << " " << j;
        }
    }
}

TEST(WindowReaders, BadNamesAndHeadersLeaveTheOutputAlone) {
    Scratch s;
    std::vector<float> map(101 * 101, 5.0f);
    std::vector<short> smap(101 * 101, 5);
    int ix = 100, iy = 100, n = 4, nx = 300, ny = 200;
    const std::string missing = padded(s.path("none.fit"));
    EXPECT_EQ(printed([&] { readcc_(missing.c_str(), map.data(), &ix, &iy); }), "open error\n");
    EXPECT_EQ(printed([&] { readc_(missing.c_str(), smap.data(), &ix, &iy); }), "open error\n");
    EXPECT_EQ(printed([&] { readd_(missing.c_str(), smap.data(), &ix, &iy, &nx, &ny); }),
              "open error\n");
    EXPECT_EQ(printed([&] { readcn_(missing.c_str(), map.data(), &ix, &iy, &n); }), "open error\n");

    // No END within five blocks.
    const std::string noend = s.path("noend.fit");
    spit(noend, std::string(6 * 2880, ' '));
    readcc_(padded(noend).c_str(), map.data(), &ix, &iy);
    readc_(padded(noend).c_str(), smap.data(), &ix, &iy);
    readcn_(padded(noend).c_str(), map.data(), &ix, &iy, &n);
    EXPECT_EQ(map[0], 5.0f);
    EXPECT_EQ(smap[0], 5);

    // A name of more than 60 characters is not cut to the name of another file.
    std::filesystem::current_path(s.dir);
    const std::string sixty(60, 'f');
    spit(sixty, float_image(1, 10));
    EXPECT_EQ(printed([&] { readc_((sixty + "x").c_str(), smap.data(), &ix, &iy); }),
              "open error\n");
    EXPECT_EQ(smap[0], 5);
    EXPECT_EQ(printed([&] { readc_(padded(sixty).c_str(), smap.data(), &ix, &iy); }), "");
    EXPECT_EQ(smap[0], 32767);
    std::filesystem::current_path("/");
}

namespace {

template <class T> std::vector<T> values(long n, T scale) {
    std::vector<T> v(n);
    for (long i = 0; i < n; ++i) v[i] = static_cast<T>((i % 97) * scale - (i % 5));
    return v;
}

} // namespace

TEST(Readfits, ReadsEveryPixelSizeBehindAThreeBlockHeader) {
    Scratch s;
    const std::string f = s.path("r.fit");
    const long nx = 37, ny = 11, n = nx * ny;
    const std::string name = padded(f);
    int n1 = -1, n2 = -1;
    auto frame = [&](int bitpix, int type, const void* v) {
        pgctest::FitsFrame ff;
        ff.nx = nx, ff.ny = ny, ff.bitpix = bitpix, ff.datatype = type, ff.values = v;
        ff.header_blocks = 3;
        ASSERT_EQ(pgctest::write_fits(f, ff), 3 * 2880);
    };

    const auto v16 = values<short>(n, 300);
    frame(SHORT_IMG, TSHORT, v16.data());
    std::vector<short> got16(n);
    readfits_(name.c_str(), reinterpret_cast<char*>(got16.data()), &n1, &n2);
    EXPECT_EQ(n1, nx);
    EXPECT_EQ(n2, ny);
    EXPECT_EQ(got16, v16);

    const auto v32 = values<float>(n, 1.25f);
    frame(FLOAT_IMG, TFLOAT, v32.data());
    std::vector<float> got32(n);
    readfits_(name.c_str(), reinterpret_cast<char*>(got32.data()), &n1, &n2);
    EXPECT_EQ(got32, v32);

    const auto v8 = values<unsigned char>(n, 2);
    frame(BYTE_IMG, TBYTE, v8.data());
    std::vector<unsigned char> got8(n);
    readfits_(name.c_str(), reinterpret_cast<char*>(got8.data()), &n1, &n2);
    EXPECT_EQ(got8, v8);

    // 8-byte reals stay in the file's byte order.
    const auto v64 = values<double>(n, 0.5);
    frame(DOUBLE_IMG, TDOUBLE, v64.data());
    std::vector<double> got64(n);
    readfits_(name.c_str(), reinterpret_cast<char*>(got64.data()), &n1, &n2);
    for (long i = 0; i < n; ++i) {
        char b[8];
        std::memcpy(b, &got64[i], 8);
        std::reverse(b, b + 8);
        double d;
        std::memcpy(&d, b, 8);
        ASSERT_EQ(d, v64[i]) << i;
    }
}

TEST(Readfits, RefusedHeadersGiveZeroSizesAndReadNothing) {
    Scratch s;
    const std::string f = s.path("bad.fit");
    const std::string name = padded(f);
    std::vector<char> buf(64, 'k');
    int n1 = -1, n2 = -1;
    auto read = [&] {
        n1 = n2 = -1;
        return printed([&] { readfits_(name.c_str(), buf.data(), &n1, &n2); });
    };
    const auto sizes = pgctest::value_card("BITPIX", 16) + pgctest::value_card("NAXIS1", 4) +
                       pgctest::value_card("NAXIS2", 4);

    EXPECT_EQ(read(), "open error\n");
    EXPECT_EQ(n1 + n2, 0);

    spit(f, pgctest::blocks(sizes, 11) + std::string(32, 'p')); // no END within 10 blocks
    read();
    EXPECT_EQ(n1 + n2, 0);

    spit(f, pgctest::blocks(sizes + card("END"), 1).substr(80) + std::string(32, 'p'));
    read(); // no BITPIX card
    EXPECT_EQ(n1 + n2, 0);

    for (auto [bitpix, nx] : {std::pair{16, 100000L}, {12, 4L}, {16, -4L}, {16, 0L}}) {
        spit(f, pgctest::blocks(pgctest::value_card("BITPIX", bitpix) +
                                    pgctest::value_card("NAXIS1", nx) +
                                    pgctest::value_card("NAXIS2", 100000) + card("END"),
                                1) +
                    std::string(32, 'p'));
        EXPECT_EQ(read(), "bad header\n") << bitpix << " " << nx;
        EXPECT_EQ(n1 + n2, 0);
    }
    EXPECT_EQ(std::string(buf.begin(), buf.end()), std::string(64, 'k'));

    // The card block ends with NAXIS1: there is no NAXIS2 card to read.
    std::string late(35 * 80, ' ');
    late.replace(0, 80, pgctest::value_card("BITPIX", 16));
    spit(f, late + pgctest::value_card("NAXIS1", 4) + card("END") + std::string(2800, ' '));
    read();
    EXPECT_EQ(n1 + n2, 0);
}
