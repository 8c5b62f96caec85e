// The camera's job state, from the exposure-phase text of every status
// record, and what its changes set off: the job file for the observers
// when an exposure starts, the dome requests near its end and once the
// camera is idle, and the quick-look preview of the finished frame.
#pragma once

#include "status.h"
#include "system.h"

#include <string>
#include <string_view>

namespace qlink {

// Dome requests raised here and sent by the send phase: a counter at 1 is a
// request waiting to go, 2 one that went out.
struct Dome {
    int startdome = 0;
    int stop_dome = 0;
};

class JobTracker {
  public:
    JobTracker(qor::System& sys, Dome& dome) : sys_(sys), dome_(dome) {}

    // One status record's exposure phase; v1 is the latest status line.
    void track(std::string_view phase, std::string_view v1, const Expo& expo);

    // Writes job.txt for the exposure that has just started.
    void checkname(std::string_view v1, int vv);

    // obsnum from the camera database; unchanged when it prints no number.
    void read_obsnum();

    int job = 0;      // 1 exposing, 2 reading out, 3 idle
    int prev_job = 0; // 0 until the first record
    float rect = 0;   // readout seconds so far
    int expt = 0;     // exposure time, whole seconds
    int obsnum = -1;
    int filter = 0;
    int rows = 0;
    int cols = 0;

  private:
    std::optional<int> tool_int(const char* group, const char* name);

    qor::System& sys_;
    Dome& dome_;
};

} // namespace qlink
