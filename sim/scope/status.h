// The status record the far end sends every few seconds.
//
// Status line, positions from 0 (the record puts a backquote in front and a
// newline behind, 69 bytes in all):
//   0-9   clock hh:mm:ss.t          10-19 local sidereal time hh:mm:ss.t
//   20-29 right ascension            30-40 declination, sign and dd:mm:ss.t
//   41-49 hour angle h:mm:ss.t       50-59 instrument state:
//         50 'S' slewing / 'T' tracking, 51 dome 'R' rotating / 'S' stopped,
//         52-53 slew step counter (00 at rest), 54-55 filter wheel "OK"/"MV",
//         56-59 filter number in the beam, 4 digits
//   60-66 outside temperature "+005.2C"
#pragma once

#include <string>

namespace qor::scope {

struct StatusFields {
    double clock_s = 0; // seconds of the local day, fraction included
    double lst_h = 0;
    double ra_h = 0;
    double dec_deg = 0;
    double ha_h = 0;
    bool slewing = false;
    int slew_count = 0;
    bool dome_rotating = true;
    bool filter_moving = false;
    int filter = 1;
    double temperature_c = 5.0;
};

constexpr std::size_t status_line_length = 67;

// The 67 characters of the status line.
std::string status_line(const StatusFields& f);

// Backquote, status line, newline. With quoted set, every ':' goes out as an
// apostrophe and every '.' as a double quote, as some far ends send them.
std::string status_record(const StatusFields& f, bool quoted);

} // namespace qor::scope
