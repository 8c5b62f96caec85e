// Ecliptic coordinates and sexagesimal text.
#include "coords.h"

#include "sexagesimal.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Rounds to single precision without the undefined conversion of values
// beyond the float range.
float to_single(double v) {
    if (std::isnan(v)) return NAN;
    if (v > FLT_MAX) return INFINITY;
    if (v < -FLT_MAX) return -INFINITY;
    return static_cast<float>(v);
}

// Obliquity of the ecliptic, about 23.44 degrees.
constexpr double sin_eps = 0.3978;
constexpr double cos_eps = 0.9175;

} // namespace

extern "C" {

void ad_lb(double al4, double de4, float* pl, float* pb) {
    const double al = to_single(al4);
    const double de = to_single(de4);
    const double deg = std::atan2(1.0, 1.0) / 45.0;

    const double x = std::cos(al) * std::cos(de);
    const double y = std::sin(de) * sin_eps + std::sin(al) * std::cos(de) * cos_eps;
    float l = to_single(std::atan2(y, x) / deg);
    if (l < 0) l += 360;

    // The rounded constants make sin^2 + cos^2 slightly above 1, so near the
    // ecliptic poles the sine can pass 1 by a hair.
    double sb = std::sin(de) * cos_eps - std::sin(al) * std::cos(de) * sin_eps;
    if (sb > 1) sb = 1;
    if (sb < -1) sb = -1;
    float b = to_single(std::asin(sb) / deg);

    if (pl) *pl = l;
    if (pb) *pb = b;
}

void toms(double aa, char* cc, int k) {
    if (!cc) return;
    const float v = to_single(aa);
    const float a = std::fabs(v);
    const int widest = k == 2 ? 999 : 99;

    char text[32];
    bool fits = std::isfinite(a) && a < static_cast<float>(widest + 1);
    if (fits) {
        // Without tenths on show, round to whole seconds.
        auto p = qor::sexagesimal_parts(a, k == 0 ? qor::Rounding::seconds_by_tenths
                                                  : qor::Rounding::tenths);
        fits = p.whole <= widest;
        if (fits) {
            if (k == 2)
                std::snprintf(text, sizeof text, "%3d:%02d:%02d.%d", p.whole, p.minutes, p.seconds,
                              p.tenths);
            else
                std::snprintf(text, sizeof text, " %02d:%02d:%02d.%d", p.whole, p.minutes,
                              p.seconds, p.tenths);
        }
    }
    if (!fits) std::strcpy(text, k == 2 ? "***:**:**.*" : " **:**:**.*");
    if (k != 2) text[0] = v < 0 ? '-' : ' ';
    if (k != 1) text[9] = '\0';
    std::memcpy(cc, text, std::strlen(text) + 1);
}

} // extern "C"
