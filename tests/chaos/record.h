// What a chaos night leaves to be judged: the logs of the programs and of
// the simulators, and what the harness did when.
#pragma once

#include "chaos.h"

#include <cstddef>
#include <string>
#include <vector>

namespace qor::chaos {

// One run of qorobs: where its output and its posts begin.
struct Run {
    std::size_t console_from = 0; // in console
    std::size_t obslog_from = 0;  // in obs_log
    double started = 0;           // wall clock, seconds
    bool killed = false;
};

struct Injected {
    Step step;
    double at = 0;
    std::size_t console_at = 0, daemon_log_at = 0; // where a message about it may begin
    bool trigger_seen = true;
};

struct Record {
    std::vector<std::string> batch; // as asked for, line ends included
    std::string console;            // every run's standard output, in order
    std::string daemon_log;         // the daemon's log file of the site
    std::string obs_log, received_log, scope_log, camera_log, final_batch;
    std::vector<Run> runs;
    std::vector<Injected> injected;
    double mono_to_real = 0; // add to the camera log's monotonic times
    double start_ra = 0, start_dec = 0;
    int start_filter = 1;
    std::string filter_table; // the site's FILTER file
    float a_ep = 0;           // the driver's epoch of date
    int ended_early = 0, prompts = 0;
    std::vector<std::string> notes;
};

// The lines of the console that tell which frame the driver claimed for
// which line: the echo of a worked line, "wantfile:", "-------produced file".
struct FrameEvent {
    enum Kind { want, claim } kind;
    std::size_t run;
    int line; // index into the batch
    int q;    // frame of the line
    int obsnum;
};
struct Worked {
    std::vector<FrameEvent> events;
    std::vector<int> last_run; // per batch line: the last run that began it, -1 none
};
Worked worked(const Record& r);

Table judge(const Record& r);

} // namespace qor::chaos
