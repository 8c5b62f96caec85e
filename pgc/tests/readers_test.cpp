// The window readers, and every reader against bad names and damaged files.
#include "frames.h"
#include "helpers.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using namespace pgctest;

namespace {

// A float image with rows of 2048 behind header_blocks blocks; each pixel
// holds its index from the start of the data, so a value tells where it was
// read. Pixels listed in odd are replaced.
std::string float_image(int header_blocks, long rows,
                        std::vector<std::pair<long, float>> odd = {}) {
    std::string data(2048 * rows * 4, '\0');
    for (long i = 0; i < 2048 * rows; ++i) {
        float v = static_cast<float>(i);
        for (auto [at, x] : odd)
            if (at == i) v = x;
        std::uint32_t u;
        std::memcpy(&u, &v, 4);
        for (int b = 0; b < 4; ++b) data[4 * i + b] = static_cast<char>(u >> (24 - 8 * b));
    }
    return blocks(std::string((header_blocks - 1) * 2880, ' ') + card("END"), header_blocks) + data;
}

template <class F> std::string printed(F f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

} // namespace

TEST(Windows, EachReaderPlacesScalesAndFillsItsWindow) {
    Scratch s;
    const std::string f = padded(s.path("img.fit"));
    const long neg = 2041L * 2048 + 6, dark = 9L * 2048 + 49 + 3, odd = dark + 2;
    spit(s.path("img.fit"), float_image(2, 2047, {{neg, -3.0f}, {dark, NAN}, {odd, 403.0f}}));

    // readcn_: rows past 2046 give nothing; the rows read are packed.
    std::vector<float> a(100, -7.0f);
    int ix = 5, iy = 2040, n = 10;
    readcn_(f.c_str(), a.data(), &ix, &iy, &n);
    EXPECT_EQ(a[0], 2040.0f * 2048 + 5);
    EXPECT_EQ(a[1 * 10 + 1], 0.0f); // the negative pixel
    EXPECT_EQ(a[6 * 10 + 9], 2046.0f * 2048 + 14);
    EXPECT_EQ(a[70], -7.0f);

    // readcc_ around row 10: rows above the image keep -1, and so does row 0,
    // which would be read from before the start of the file (positions count
    // rows and columns from 1); the rest is turned by 180 degrees.
    std::vector<float> map(101 * 101);
    ix = 100, iy = 10;
    readcc_(f.c_str(), map.data(), &ix, &iy);
    EXPECT_EQ(std::count(map.begin(), map.begin() + 60 * 101, -1.0f), 0);
    EXPECT_EQ(std::count(map.begin() + 60 * 101, map.end(), -1.0f), 41 * 101);
    EXPECT_EQ(map[0 * 101 + 100], 59.0f * 2048 + 49); // window row 60, column 0
    EXPECT_EQ(map[59 * 101 + 0], 0.0f * 2048 + 149);  // window row 1, column 100

    // readc_: a quarter of each float, cut toward zero (100.75 gives 100),
    // clamped to 0..32766; NaN counts as 0.
    std::vector<short> sm(101 * 101);
    ix = 100, iy = 60;
    readc_(f.c_str(), sm.data(), &ix, &iy);
    EXPECT_EQ(sm[0], static_cast<short>((9.0f * 2048 + 49) / 4));
    EXPECT_EQ(sm[3], 0);
    EXPECT_EQ(sm[5], 100);
    EXPECT_EQ(sm[100 * 101 + 100], 32766);

    // readd_: 16-bit frame behind 8640 bytes, rows reversed, rows from ny - 1
    // on keep 32767, values clamped to 0..32766.
    std::string d(8640, ' ');
    const long nx = 300, ny = 200;
    for (long i = 0; i < nx * ny; ++i) {
        const auto v = static_cast<std::uint16_t>(i == 139 * nx + 9 ? -5 : i % 32768);
        d += {static_cast<char>(v >> 8), static_cast<char>(v)};
    }
    spit(s.path("img.ccd"), d);
    int wx = 60, wy = 180, wnx = nx, wny = ny;
    readd_(padded(s.path("img.ccd")).c_str(), sm.data(), &wx, &wy, &wnx, &wny);
    EXPECT_EQ(std::count(sm.begin(), sm.begin() + 32 * 101, 32767), 32 * 101); // rows 199..230
    EXPECT_EQ(sm[(100 - 68) * 101 + 5], (197 * nx + 14) % 32768);              // row 198
    EXPECT_EQ(sm[(100 - 10) * 101 + 0], 0);                                    // row 140
    EXPECT_EQ(sm[100 * 101 + 100], (129 * nx + 109) % 32768);                  // row 130
}

TEST(Windows, BadNamesAndHeadersLeaveTheOutputAlone) {
    Scratch s;
    std::vector<float> map(101 * 101, 5.0f);
    std::vector<short> sm(101 * 101, 5);
    int ix = 100, iy = 100, n = 4, nx = 300, ny = 200, n1 = 1, n2 = 1;
    const std::string missing = padded(s.path("none.fit"));
    EXPECT_EQ(printed([&] {
                  readcc_(missing.c_str(), map.data(), &ix, &iy);
                  readc_(missing.c_str(), sm.data(), &ix, &iy);
                  readd_(missing.c_str(), sm.data(), &ix, &iy, &nx, &ny);
                  readcn_(missing.c_str(), map.data(), &ix, &iy, &n);
                  readfits_(missing.c_str(), reinterpret_cast<char*>(sm.data()), &n1, &n2);
              }),
              "open error\nopen error\nopen error\nopen error\nopen error\n");
    EXPECT_EQ(n1 + n2, 0);

    // No END within five blocks (window readers) or ten (readfits_).
    spit(s.path("noend.fit"),
         blocks(value_card("BITPIX", 16) + value_card("NAXIS1", 4) + value_card("NAXIS2", 4), 11));
    const std::string noend = padded(s.path("noend.fit"));
    readcc_(noend.c_str(), map.data(), &ix, &iy);
    readc_(noend.c_str(), sm.data(), &ix, &iy);
    readfits_(noend.c_str(), reinterpret_cast<char*>(sm.data()), &n1, &n2);
    EXPECT_EQ(map[0] + sm[0], 10.0f);
    EXPECT_EQ(n1 + n2, 0);

    // Sizes no frame has are refused before a byte is read.
    for (auto [bitpix, naxis1] : {std::pair{16, 100000L}, {12, 4L}, {16, -4L}}) {
        spit(s.path("big.fit"), blocks(value_card("BITPIX", bitpix) + value_card("NAXIS1", naxis1) +
                                           value_card("NAXIS2", 100000) + card("END"),
                                       1) +
                                    "data");
        EXPECT_EQ(printed([&] {
                      readfits_(padded(s.path("big.fit")).c_str(),
                                reinterpret_cast<char*>(sm.data()), &n1, &n2);
                  }),
                  "bad header\n");
        EXPECT_EQ(n1 + n2 + sm[0], 5);
    }

    // A name that fills its 60 characters is read to its last byte and not
    // one further; a longer one is cut to its first 60.
    std::filesystem::current_path(s.dir);
    spit(std::string(60, 'f'), float_image(1, 10));
    readc_(EdgeName(std::string(60, 'f')).at, sm.data(), &ix, &iy);
    EXPECT_EQ(sm[0], 32767);
    sm[0] = 5;
    readc_((std::string(61, 'f') + " ").c_str(), sm.data(), &ix, &iy);
    EXPECT_EQ(sm[0], 32767);
    std::filesystem::current_path("/");
}

// Window centres and frame widths at the ends of the int range lie far
// outside any file: the windows keep their fill, and no position overflows.
TEST(Windows, CentresAtTheEndsOfTheIntRangeKeepTheFill) {
    Scratch s;
    spit(s.path("img.fit"), float_image(1, 4));
    spit(s.path("img.ccd"), std::string(8640 + 2 * 300 * 200, '\1'));
    const std::string fit = padded(s.path("img.fit")), ccd = padded(s.path("img.ccd"));
    std::vector<float> map(101 * 101);
    std::vector<short> sm(101 * 101);
    const int big = INT_MAX;
    for (auto [ix, iy, nx] : {std::tuple{INT_MIN, 60, 300},
                              {INT_MAX, 60, 300},
                              {INT_MIN + 50, 0, 300},
                              {100, INT_MAX - 60, INT_MAX},
                              {100, 60, INT_MIN},
                              {INT_MAX, 60, INT_MAX}}) {
        SCOPED_TRACE(std::to_string(ix) + " " + std::to_string(iy) + " " + std::to_string(nx));
        readcc_(fit.c_str(), map.data(), &ix, &iy);
        EXPECT_EQ(std::count(map.begin(), map.end(), -1.0f), 101 * 101);
        readc_(fit.c_str(), sm.data(), &ix, &iy);
        EXPECT_EQ(std::count(sm.begin(), sm.end(), 32767), 101 * 101);
        readd_(ccd.c_str(), sm.data(), &ix, &iy, &nx, &big);
        EXPECT_EQ(std::count(sm.begin(), sm.end(), 32767), 101 * 101);
    }
}
