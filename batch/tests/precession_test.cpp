// The driver's coordinates against an independent precession: Julian day
// numbers from the civil calendar, the IAU 1976 angles in arc seconds
// (Lieske's series), and the matrix composed from elementary rotations.
#include "precession.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace qobs;

namespace {

using M = std::array<std::array<double, 3>, 3>;
constexpr double pi = 3.14159265358979323846;
constexpr double arcsec = pi / 180 / 3600;

// Days since 1970-01-01 of a proleptic Gregorian date.
long days_from_civil(long y, long m, long d) {
    y -= m <= 2;
    long era = (y >= 0 ? y : y - 399) / 400;
    long yoe = y - era * 400;
    long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}
double julian_date_of_year(double year) {
    double y = std::floor(year);
    return 2440587.5 + static_cast<double>(days_from_civil(static_cast<long>(y), 1, 1)) +
           (year - y) * 365.25;
}

M mul(const M& a, const M& b) {
    M r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[i][j] += a[i][k] * b[k][j];
    return r;
}
// Rotations of the frame about the y and z axes.
M r2(double a) {
    return {{{std::cos(a), 0, -std::sin(a)}, {0, 1, 0}, {std::sin(a), 0, std::cos(a)}}};
}
M r3(double a) {
    return {{{std::cos(a), std::sin(a), 0}, {-std::sin(a), std::cos(a), 0}, {0, 0, 1}}};
}
// From J2000.0 to the equinox (2000 is J2000.0 itself).
M precession(double equinox) {
    double t = equinox == 2000 ? 0 : (julian_date_of_year(equinox) - 2451545.0) / 36525;
    double zeta = (2306.2181 + (0.30188 + 0.017998 * t) * t) * t * arcsec;
    double z = (2306.2181 + (1.09468 + 0.018203 * t) * t) * t * arcsec;
    double theta = (2004.3109 - (0.42665 + 0.041833 * t) * t) * t * arcsec;
    return mul(r3(-z), mul(r2(theta), r3(-zeta)));
}

std::array<double, 3> unit(double ra_h, double dec_d) {
    double a = ra_h * 15 * pi / 180, d = dec_d * pi / 180;
    return {std::cos(d) * std::cos(a), std::cos(d) * std::sin(a), std::sin(d)};
}

// Angle between two positions in arc seconds.
double separation(double ra1, double dec1, double ra2, double dec2) {
    auto u = unit(ra1, dec1), v = unit(ra2, dec2);
    double c = u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
    double s =
        std::hypot(u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]);
    return std::atan2(s, c) / arcsec;
}

} // namespace

TEST(Coordinates, PrecessionAgreesWithAnIndependentOne) {
    EXPECT_EQ(astjuy(2000.0), 2451544.5);
    for (double y : {1950.0, 1975.5, 2024.0, 2026.9, 2100.25}) {
        EXPECT_NEAR(astjuy(y), julian_date_of_year(y), 1e-9) << y;
    }
    for (auto [e1, e2] : {std::pair{1950.0, 2000.0}, {2000.0, 2026.9}, {1975.5, 2050.0}}) {
        M p = mul(precession(e2), [&] {
            M q = precession(e1), t{};
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) t[i][j] = q[j][i];
            return t;
        }());
        for (double ra = 0.3; ra < 24; ra += 2.9) {
            for (double dec = -85; dec <= 85; dec += 17) {
                double r = ra, d = dec;
                precess(r, d, e1, e2);
                auto v = unit(ra, dec);
                std::array<double, 3> w{};
                for (int i = 0; i < 3; ++i) w[i] = p[i][0] * v[0] + p[i][1] * v[1] + p[i][2] * v[2];
                double want_ra = std::atan2(w[1], w[0]) * 12 / pi,
                       want_dec = std::asin(w[2]) * 180 / pi;
                EXPECT_LT(separation(r, d, want_ra, want_dec), 0.01)
                    << e1 << "->" << e2 << " " << ra << " " << dec;
            }
        }
    }
}

TEST(Coordinates, RoundTripAndEqualEquinoxes) {
    float ra = 0, dec = 0, back_ra = 0, back_dec = 0;
    for (auto [r, d] : {std::pair{5.5881f, -5.3911f}, {0.7123f, 41.269f}, {23.99f, 88.5f}}) {
        astprs(r, d, 1950.f, ra, dec, 2000.f);
        EXPECT_GT(separation(r, d, ra, dec), 100); // it moved
        astprs(ra, dec, 2000.f, back_ra, back_dec, 1950.f);
        EXPECT_NEAR(back_ra, r, 2e-5f);
        EXPECT_NEAR(back_dec, d, 2e-5f);
        astprs(r, d, 2000.f, ra, dec, 2000.f);
        EXPECT_EQ(ra, r);
        EXPECT_EQ(dec, d);
    }
}

TEST(Coordinates, Toms1FormsAndCarries) {
    EXPECT_EQ(toms1(23.99999f, 1), "24:00:00.0"); // hours are not wrapped
    EXPECT_EQ(toms1(12.5f, 1), "12:30:00.0");
    EXPECT_EQ(toms1(5.588139f, 1), "05:35:17.3");
    EXPECT_EQ(toms1(-1.5f, 1), "01:30:00.0"); // the hours form never has a sign
    EXPECT_EQ(toms1(-0.5f, 0), "-00:30:00");
    EXPECT_EQ(toms1(10.0000001f, 0), "10:00:00");
    EXPECT_EQ(toms1(-5.172222f, 0), "-05:10:20");
    EXPECT_EQ(toms1(1 + 59 / 60.f + 59.7f / 3600, 0), "02:00:00"); // carried to the degrees
}
