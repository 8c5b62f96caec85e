// The driver's coordinate routines: precession between two equinoxes
// (IAU 1976 angles), the Julian date of a fractional year, and the
// sexagesimal text of the move command. Right ascension in hours,
// declination in degrees; 32-bit floats at the boundaries, doubles inside.
#pragma once

#include <array>
#include <string>

namespace qobs {

using Matrix = std::array<std::array<double, 3>, 3>;

inline constexpr double degrees_per_radian = 57.29577951308232;

// Julian date of the start of the year plus its fraction (365.25 days a year).
double astjuy(double year);

// The matrix that takes direction vectors of the given equinox to J2000.0.
Matrix astrox(double equinox);

// Precesses (ra, dec) from equinox e1 to e2 in double precision; 2000 is
// J2000.0 exactly.
void precess(double& ra, double& dec, double e1, double e2);

// The same at the 32-bit boundary: inputs and results rounded to floats.
// Always returns 0.
int astprs(float ra, float dec, float e1, float& ra_out, float& dec_out, float e2);

// Sexagesimal text: form 1 hours "hh:mm:ss.t" (never signed, hours not
// wrapped), form 0 degrees "dd:mm:ss" with '-' in front when negative.
std::string toms1(float x, int form);

} // namespace qobs
