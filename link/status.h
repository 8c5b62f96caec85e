// Telescope status records and the camera's exposure phase, as the daemon
// reads them (the layouts are those of common/status_line.h, phase.h and
// telescope_file.h).
#pragma once

#include <string>
#include <string_view>

namespace qlink {

// Number of separators of a status record (backquote at index 0) that are
// not in place; 0 means a status record.
int checkv1(std::string_view record);

// What the exposure-phase computation keeps between records.
struct Expo {
    float temperature = 0; // exp3's first number, passed on to telescope.txt
    int queued = 0;        // its second: above 10 the job file names the network job
    int restime = 0;       // seconds left of the running exposure
};

// The exposure-phase text from the output of exp3 (at most 99 characters):
// 29 characters while exposing, 51 or 44 while reading out, 65 when idle.
// now is the local time of day in seconds.
std::string phase_text(std::string_view exp3_out, int now, int expt, float rect, Expo& expo);

} // namespace qlink
