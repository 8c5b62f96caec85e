// The sky and the mount as the far end models them: sidereal time,
// precession of a commanded position to the equinox of date, and a slew at
// a finite rate on both axes at once.
#pragma once

namespace qor::scope {

// Julian epoch (years) of a moment given as Unix seconds.
double julian_epoch(double unix_seconds);

// Local mean sidereal time in hours for a longitude in degrees east.
double sidereal_hours(double unix_seconds, double longitude_deg);

// Precesses a position (right ascension in hours, declination in degrees)
// from one Julian epoch to another.
void precess(double& ra_h, double& dec_deg, double from_epoch, double to_epoch);

struct Mount {
    double ra_h = 0; // where the telescope points, equinox of date
    double dec_deg = 0;
    double target_ra_h = 0;
    double target_dec_deg = 0;
    bool slewing = false;
};

// Starts a slew towards a position of the equinox of date.
void start_slew(Mount& m, double ra_h, double dec_deg);

// Moves the mount for dt seconds at rate degrees per second on each axis (the
// right ascension axis the short way round). True when the slew ended now.
bool slew_step(Mount& m, double dt, double rate_deg_s);

} // namespace qor::scope
