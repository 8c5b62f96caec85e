#include "flatref.h"

#include "levels.h"
#include "reduce.h"
#include "site.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>

namespace flat {

void de_f64(short* values, double bzero, int n1, int n2) {
    // BZERO as a float, cut toward zero; values no 16-bit frame can use are
    // held where the sum cannot overflow.
    const float z = static_cast<float>(bzero);
    const int e = std::isnan(z) ? 0 : static_cast<int>(std::clamp(z, -1.0e6f, 1.0e6f));
    const long n = static_cast<long>(n1) * n2;
    for (long i = 0; i < n; ++i) {
        const auto v = static_cast<short>((values[i] + e) >> 1);
        values[i] = v > 0 ? v : short{1};
    }
}

int bal(const short* image, int side) {
    const int r0 = side * 3 / 8, r1 = side * 5 / 8;
    const int c0 = side * 7 / 16, c1 = side / 2, c2 = side * 9 / 16;
    std::vector<short> strip(static_cast<std::size_t>(r1 - r0) * (c1 - c0));
    float left = 0, right = 0, width = 0;
    pgc::shrink1(image, side, strip.data(), r0, r1, c0, c1);
    white_(strip.data(), c1 - c0, r1 - r0, &left, &width);
    strip.resize(static_cast<std::size_t>(r1 - r0) * (c2 - c1));
    pgc::shrink1(image, side, strip.data(), r0, r1, c1, c2);
    white_(strip.data(), c2 - c1, r1 - r0, &right, &width);
    return static_cast<int>(left + right);
}

std::string reference(pgc::Frame& f, float& level) {
    de_f64(f.pix.data(), f.bzero, f.side, f.side);
    std::fill(f.pix.begin() + static_cast<long>(f.side) * f.side, f.pix.end(), short{1});
    level = static_cast<float>(bal(f.pix.data(), f.side));
    std::string bytes(f.pix.size() * 2 + 4, '\0');
    std::memcpy(bytes.data(), f.pix.data(), f.pix.size() * 2);
    std::memcpy(bytes.data() + f.pix.size() * 2, &level, 4);
    return bytes;
}

namespace {

int fail(qor::System& sys, const std::string& why) {
    sys.print("flatbuild: " + why + "; /u/tarnu/flatref left as it was\n");
    return 1;
}

std::string number_f(double x) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", x);
    return text;
}

int build(qor::System& sys, const std::string& path) {
    pgc::Frame f;
    const pgc::Load loaded = pgc::load_fits(path, f, pgc::Rows::file_order);
    if (loaded != pgc::Load::ok) return fail(sys, f.message);
    // A flat must be whole: a part of it would put its edge into every frame.
    if (f.missing_rows > 0) return fail(sys, f.message);
    // ccdpeek divides only full frames (side 4096) by the reference, and
    // refuses one of another side or of no level: such a reference would
    // only take the place of a good one.
    const int side = f.mm * 512;
    if (side != pgc::max_side)
        return fail(sys, path + " is a flat of side " + std::to_string(f.side) +
                             ", whose reference (" + std::to_string(side) + " x " +
                             std::to_string(side) +
                             ") could never serve a full frame of 4096 x 4096");
    if (!f.message.empty()) sys.print("flatbuild: " + f.message + "\n");
    float level = 0;
    const std::string bytes = reference(f, level);
    f.pix = {};
    if (!std::isfinite(level) || level <= 0)
        return fail(sys, "the centre level of " + path + " is " + number_f(level) +
                             ", no frame can be divided by it");
    const std::string ref = qor::site_path("/u/tarnu/flatref");
    if (qor::Done d = sys.replace_file(ref, bytes); !d)
        return fail(sys, "cannot write " + ref + ": " + d.why());
    sys.print("center ADU: " + number_f(level) + "\n");
    return 0;
}

} // namespace

int flatbuild(qor::System& sys, const Args& args) {
    if (args.size() < 2) {
        sys.print("\n\n\t *** output /u/tarnu/flatref (for last?.jpg) ***\n"
                  "\n\t Ex:   flatbuild in(d*FLAT*.fit)     2006,10\n\n");
        return 0;
    }
    try {
        return build(sys, args[1]);
    } catch (const std::exception& e) {
        return fail(sys, e.what());
    }
}

} // namespace flat
