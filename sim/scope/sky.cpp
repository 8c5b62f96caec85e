#include "sky.h"

#include <array>
#include <cmath>

namespace qor::scope {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double rad = pi / 180.0;
constexpr double arcsec = rad / 3600.0;

using Vec = std::array<double, 3>;
using Mat = std::array<Vec, 3>;

double julian_date(double unix_seconds) {
    return unix_seconds / 86400.0 + 2440587.5;
}

// IAU 1976 precession from J2000.0 to an epoch T Julian centuries later.
Mat precession_from_j2000(double T) {
    double zeta = (2306.2181 * T + 0.30188 * T * T + 0.017998 * T * T * T) * arcsec;
    double z = (2306.2181 * T + 1.09468 * T * T + 0.018203 * T * T * T) * arcsec;
    double theta = (2004.3109 * T - 0.42665 * T * T - 0.041833 * T * T * T) * arcsec;
    double cz = std::cos(zeta), sz = std::sin(zeta);
    double cZ = std::cos(z), sZ = std::sin(z);
    double ct = std::cos(theta), st = std::sin(theta);
    return Mat{Vec{cz * ct * cZ - sz * sZ, -sz * ct * cZ - cz * sZ, -st * cZ},
               Vec{cz * ct * sZ + sz * cZ, -sz * ct * sZ + cz * cZ, -st * sZ},
               Vec{cz * st, -sz * st, ct}};
}

Vec times(const Mat& m, const Vec& v) {
    Vec r{};
    for (int i = 0; i < 3; ++i) r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
    return r;
}

Vec transposed_times(const Mat& m, const Vec& v) {
    Vec r{};
    for (int i = 0; i < 3; ++i) r[i] = m[0][i] * v[0] + m[1][i] * v[1] + m[2][i] * v[2];
    return r;
}

double wrap24(double h) {
    h = std::fmod(h, 24.0);
    return h < 0 ? h + 24.0 : h;
}

} // namespace

double julian_epoch(double unix_seconds) {
    return 2000.0 + (julian_date(unix_seconds) - 2451545.0) / 365.25;
}

double sidereal_hours(double unix_seconds, double longitude_deg) {
    double d = julian_date(unix_seconds) - 2451545.0;
    return wrap24(18.697374558 + 24.06570982441908 * d + longitude_deg / 15.0);
}

void precess(double& ra_h, double& dec_deg, double from_epoch, double to_epoch) {
    if (from_epoch == to_epoch) return;
    double a = ra_h * 15.0 * rad, d = dec_deg * rad;
    Vec v{std::cos(d) * std::cos(a), std::cos(d) * std::sin(a), std::sin(d)};
    v = transposed_times(precession_from_j2000((from_epoch - 2000.0) / 100.0), v);
    v = times(precession_from_j2000((to_epoch - 2000.0) / 100.0), v);
    ra_h = wrap24(std::atan2(v[1], v[0]) / rad / 15.0);
    dec_deg = std::asin(std::fmax(-1.0, std::fmin(1.0, v[2]))) / rad;
}

void start_slew(Mount& m, double ra_h, double dec_deg) {
    m.target_ra_h = wrap24(ra_h);
    m.target_dec_deg = dec_deg;
    m.slewing = true;
}

bool slew_step(Mount& m, double dt, double rate_deg_s) {
    if (!m.slewing) return false;
    double step = rate_deg_s * dt;
    double dd = m.target_dec_deg - m.dec_deg;
    if (std::fabs(dd) <= step)
        m.dec_deg = m.target_dec_deg;
    else
        m.dec_deg += dd > 0 ? step : -step;
    // Right ascension in degrees of rotation, the short way round.
    double da = std::remainder((m.target_ra_h - m.ra_h) * 15.0, 360.0);
    if (std::fabs(da) <= step)
        m.ra_h = m.target_ra_h;
    else
        m.ra_h = wrap24(m.ra_h + (da > 0 ? step : -step) / 15.0);
    if (m.ra_h == m.target_ra_h && m.dec_deg == m.target_dec_deg) {
        m.slewing = false;
        return true;
    }
    return false;
}

} // namespace qor::scope
