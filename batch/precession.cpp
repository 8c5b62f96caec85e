#include "precession.h"

#include "sexagesimal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qobs {

double astjuy(double year) {
    long b = static_cast<long>(year - 1);
    long c = b / 100;
    return 1721425.5 + 365.0 * static_cast<double>(b) - static_cast<double>(c) +
           static_cast<double>(b / 4) + static_cast<double>(c / 4) +
           (year - std::trunc(year)) * 365.25;
}

Matrix astrox(double equinox) {
    double t = (astjuy(equinox) - 2451545.0) / 36525.0;
    double zeta = t * (0.6406161 + t * (0.0000839 + t * 0.000005)) / degrees_per_radian;
    double z = t * (0.6406161 + t * (0.0003041 + t * 0.0000051)) / degrees_per_radian;
    double theta = t * (0.556753 - t * (0.0001185 + t * 0.0000116)) / degrees_per_radian;
    double cze = std::cos(zeta), sze = std::sin(zeta);
    double cz = std::cos(z), sz = std::sin(z);
    double cth = std::cos(theta), sth = std::sin(theta);
    // P takes J2000.0 to the equinox; its transpose takes the equinox back.
    Matrix p{{{cze * cth * cz - sze * sz, -sze * cth * cz - cze * sz, -sth * cz},
              {cze * cth * sz + sze * cz, -sze * cth * sz + cze * cz, -sth * sz},
              {cze * sth, -sze * sth, cth}}};
    Matrix m{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m[i][j] = p[j][i];
    return m;
}

void precess(double& ra, double& dec, double e1, double e2) {
    if (e1 == e2) return;
    double a = ra * 15.0 / degrees_per_radian, d = dec / degrees_per_radian;
    std::array<double, 3> v{std::cos(d) * std::cos(a), std::cos(d) * std::sin(a), std::sin(d)};
    auto apply = [&v](const Matrix& m, bool transposed) {
        std::array<double, 3> r{};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) r[i] += (transposed ? m[j][i] : m[i][j]) * v[j];
        v = r;
    };
    if (e1 != 2000.0) apply(astrox(e1), false);
    if (e2 != 2000.0) apply(astrox(e2), true);
    ra = std::atan2(v[1], v[0]) * degrees_per_radian / 15.0;
    if (ra < 0) ra += 24.0;
    dec = std::asin(std::fmax(-1.0, std::fmin(1.0, v[2]))) * degrees_per_radian;
}

int astprs(float ra, float dec, float e1, float& ra_out, float& dec_out, float e2) {
    ra_out = ra;
    dec_out = dec;
    if (e1 == e2) return 0;
    double r = ra, d = dec;
    precess(r, d, e1, e2);
    ra_out = static_cast<float>(r);
    dec_out = static_cast<float>(d);
    return 0;
}

std::string toms1(float x, int form) {
    bool negative = x < 0;
    float v = std::fabs(x);
    if (!(v < 1e6f)) v = 0; // no angle of ours; keeps the conversions defined
    auto p = qor::sexagesimal_parts(v, form == 1 ? qor::Rounding::tenths
                                                 : qor::Rounding::seconds_over_half);
    char buf[64];
    if (form == 1) {
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%d", p.whole, p.minutes, p.seconds, p.tenths);
    } else {
        std::snprintf(buf, sizeof buf, negative ? "-%02d:%02d:%02d" : "%02d:%02d:%02d", p.whole,
                      p.minutes, p.seconds);
    }
    return buf;
}

} // namespace qobs
