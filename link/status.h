// Telescope status records and the camera's exposure phase.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qlink {

// Number of separators of a status record (backquote at index 0) that are
// not in place; 0 means a status record.
int checkv1(std::string_view record);

// What the exposure-phase computation keeps between records.
struct Expo {
    float tems = 0;
    int vv = 0;
    int restime = 0;
};

// The exposure-phase text from the output of exp3 (at most 99 characters):
// 29 characters while exposing, 51 or 44 while reading out, 65 when idle.
// now is the local time of day in seconds.
std::string phase_text(std::string_view exp3_out, int now, int expt, float rect, Expo& expo);

// Job state from the length of the exposure-phase text: 1 exposing,
// 2 reading out, 3 idle.
int job_state(std::size_t length);

// The whole content of telescope.txt for a status line.
std::string telescope_text(std::string_view line, float tems, int vv, std::string_view phase);

// The position-log line of a status line: clock, right ascension and
// declination to whole arc seconds.
std::string position_line(std::string_view line);

} // namespace qlink
