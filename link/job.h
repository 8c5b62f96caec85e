// The camera's job state, from the exposure-phase text of every status
// record, and what its changes set off: the job file for the observers
// when an exposure starts, the dome requests near its end and once the
// camera is idle, and the quick-look preview of the finished frame.
#pragma once

#include "phase.h"
#include "status.h"
#include "system.h"

#include <optional>
#include <string>
#include <string_view>

namespace qlink {

// Dome requests raised here and sent by the send phase: a counter at 1 is a
// request waiting to go, 2 one that went out.
struct Dome {
    int startdome = 0;
    int stop_dome = 0;
};

// What the tracker keeps from one status record to the next.
struct JobState {
    std::optional<qor::Phase> phase; // none before the first record
    float rect = 0;                  // readout seconds so far
};

// What one record's phase asks for.
struct JobActions {
    bool changed = false;  // the phase changed: the filter in the beam is read again
    bool describe = false; // an exposure started: job.txt describes it
    bool finished = false; // the camera is idle again: job.txt goes
    bool preview = false;  // ... and the frame gets its previews
};

// The decision for one status record, from the camera's phase now and the
// exposure's remaining seconds: the next state, the dome requests, and what
// to do. Nothing else is read or written.
struct JobStep {
    JobState state;
    Dome dome;
    JobActions actions;
};
JobStep next_job(const JobState& state, const Dome& dome, qor::Phase phase, int restime);

// The job state as the daemon prints it in run mode 2: 0 before the first
// record, 1 exposing, 2 reading out, 3 idle.
int job_number(std::optional<qor::Phase> phase);

// Carries out the decisions: the job file for the observers when an
// exposure starts, the previews when it is done.
class JobTracker {
  public:
    JobTracker(qor::System& sys, Dome& dome) : sys_(sys), dome_(dome) {}

    // One status record's exposure phase; v1 is the latest status line.
    void track(std::string_view phase, std::string_view v1, const Expo& expo);

    // Writes job.txt for the exposure that has just started.
    void checkname(std::string_view v1, int queued);

    // obsnum from the camera database; unchanged when it prints no number.
    void read_obsnum();

    // The phase of the last record (none before the first).
    std::optional<qor::Phase> phase() const { return state_.phase; }
    int expt() const { return expt_; }
    float rect() const { return state_.rect; }
    int obsnum() const { return obsnum_; }

  private:
    std::optional<int> tool_int(const char* group, const char* name);

    qor::System& sys_;
    Dome& dome_;
    JobState state_;
    int expt_ = 0;    // exposure time, whole seconds
    int obsnum_ = -1; // of the exposure being taken; -1 while none was read
    int filter_ = 0;  // number of the filter in the beam
    int rows_ = 0, cols_ = 0;
};

} // namespace qlink
