// Damaged files of every kind: the readers may refuse them, never crash.
#include "frames.h"
#include "scratch.h"

#include <gtest/gtest.h>
#include <memory>
#include <random>

using pgctest::card;
using pgctest::value_card;

namespace {

void no_overscan(short*, int, int, int) {}

// A plausible header with random damage: values, keywords and the END card
// are overwritten with digits, signs, blanks or any byte.
std::string damaged(std::mt19937& rng, int blocks) {
    std::string h = value_card("SIMPLE", 1) + value_card("BITPIX", 16) + value_card("NAXIS", 2) +
                    value_card("NAXIS1", 64 + 32) + value_card("NAXIS2", 64) +
                    value_card("COLOFF", 0) + card("BZERO   =              32768.0") + card("END");
    h = pgctest::blocks(h, blocks);
    const char pool[] = "0123456789+-. E\0\xff";
    std::uniform_int_distribution<int> hits(1, 12), pos(0, 8 * 80 - 1), any(0, 255),
        pick(0, sizeof pool - 1);
    for (int i = hits(rng); i > 0; --i) {
        const char c = rng() % 4 == 0 ? static_cast<char>(any(rng)) : pool[pick(rng)];
        h[pos(rng)] = c;
    }
    std::uniform_int_distribution<int> tail(0, 3000);
    return h + std::string(tail(rng), static_cast<char>(any(rng)));
}

} // namespace

TEST(Garbage, DamagedHeadersAndShortFilesNeverCrashAReader) {
    pgctest::Scratch s;
    const std::string f = s.path("g.fit");
    std::string name = f;
    name.resize(100, ' ');
    std::mt19937 rng(20261208);
    // readfits_ may fill up to the largest frame it accepts: 4096 x 4096 of
    // 8 bytes. Untouched pages of the buffer cost nothing.
    std::unique_ptr<char[]> big(new char[4096L * 4096 * 8]);
    std::vector<float> fmap(101 * 101);
    std::vector<short> smap(101 * 101);
    std::vector<float> strip(64 * 64);
    for (int i = 0; i < 300; ++i) {
        pgctest::spit(f, damaged(rng, 1 + i % 3));
        pgc::Frame fr;
        const pgc::Load raw = pgc::load_raw(f, fr, no_overscan);
        if (raw == pgc::Load::ok) {
            ASSERT_EQ(fr.pix.size() % (512u * 512u), 0u);
        } else {
            ASSERT_FALSE(fr.message.empty());
        }
        const pgc::Load fits = pgc::load_fits(f, fr, pgc::Rows::naxis1_rows);
        if (fits != pgc::Load::ok) {
            ASSERT_FALSE(fr.message.empty());
        }

        int n1 = -1, n2 = -1, ix = static_cast<int>(rng() % 5000) - 100,
            iy = static_cast<int>(rng() % 5000) - 100, n = 64, nx = 96, ny = 64;
        testing::internal::CaptureStdout();
        readfits_(name.c_str(), big.get(), &n1, &n2);
        readcn_(name.c_str(), strip.data(), &ix, &iy, &n);
        readcc_(name.c_str(), fmap.data(), &ix, &iy);
        readc_(name.c_str(), smap.data(), &ix, &iy);
        readd_(name.c_str(), smap.data(), &ix, &iy, &nx, &ny);
        testing::internal::GetCapturedStdout();
        ASSERT_TRUE((n1 == 0 && n2 == 0) || (n1 > 0 && n2 > 0));
    }
}
