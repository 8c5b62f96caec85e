// A chaos night: a whole batch night on the simulators, run with the real
// qorobs (which starts the real telelink), while a schedule of faults hits
// every seam: the driver killed and started again, the serial line pulled,
// exp3 and dbshow hung, junk in the ring counters, the host clock stepped,
// the batch file's disk full. Afterwards the simulators' own logs are set
// against what the batch file asked for, and the harm is counted.
//
//   qor::chaos::Table t = qor::chaos::run_night(qor::chaos::short_schedule(), {});
//   std::cout << qor::chaos::table_text(t, "short schedule");
#pragma once

#include <string>
#include <vector>

namespace qor::chaos {

enum class Fault {
    kill_driver,   // SIGKILL to qorobs, started again 1 s later
    unplug,        // scopesim "unplug S"
    hang_exp3,     // sim.hang.exp3 = 1, removed after `lasts`
    hang_dbshow,   // sim.hang.dbshow = 1, removed after `lasts`
    hang_obsnum,   // dbshow hangs on the observation number alone, for `lasts`
    junk_ss,       // setups.qor.ss.value "23", written as the key file
    junk_pp,       // setups.qor.pp.value "23"
    clock_back,    // the host clock (of the driver and all it starts) 20 s back
    clock_forward, // and forward again to the true time
    disk_full,     // the batch file's disk filled, freed after `lasts`
};

// What the harness waits for before a fault; each step is armed when the
// one before it has been injected, so the counts start from there.
enum class Trigger {
    now,               // at once
    filter_posted,     // a new filt_ line in obs.log: the driver waits for its reply
    move_posted,       // a new move_ line in obs.log
    move_replied,      // the driver printed a move's reply: it reads the frame number next
    exposing,          // the camera has begun a new exposure
    frame_claimed,     // the driver printed "-------produced file"
    last_frame_wanted, // "wantfile:" for the last frame of a line: its rewrite comes next
    line_done,         // the last frame of a line claimed: the rewrite is under way
};

struct Step {
    Trigger when;
    double delay; // seconds after the trigger is seen
    Fault fault;
    double lasts = 0; // seconds, for the unplug, the hangs and the full disk
};
using Schedule = std::vector<Step>;

std::string describe(const Step& step);

// The CI schedule: every fault once, the driver killed at three points.
Schedule short_schedule();
// Every fault, and two more kills, in an order and at moments drawn from the seed.
Schedule random_schedule(unsigned seed);

// Batch lines (line ends included), distinct objects and filters per line.
std::vector<std::string> short_batch();
std::vector<std::string> long_batch();

struct Options {
    std::vector<std::string> batch = short_batch();
    double night_limit = 1200; // seconds before an unfinished night is given up
    int max_restarts = 4;      // after runs that ended by themselves
    bool trace = false;        // each event on stderr as it happens
    std::string keep_logs;     // a folder to copy the night's logs into, for a look afterwards
};

struct Table {
    int frames_missing = 0;
    int frames_twice = 0;
    int wrong_pointing = 0;
    int wrong_filter = 0;
    int commands_lost = 0;
    int commands_twice = 0;
    int lines_unmarked = 0;
    int silent_faults = 0;
    int ended_early = 0; // runs of qorobs that ended without finishing the night
    int prompts = 0;     // operator prompts answered (re_do): each after a silent wait
    // Shown, not counted: faults whose trigger never came (injected at its
    // time limit), and faults never injected (the night ended first).
    int late_triggers = 0;
    int never_injected = 0;
    std::vector<std::string> notes; // what each count is made of

    Table& operator+=(const Table& other);
    // Every count zero.
    bool clean() const;
};

// Runs the night in a fresh temporary site and judges it.
Table run_night(const Schedule& schedule, const Options& options);

std::string table_text(const Table& table, const std::string& title);

} // namespace qor::chaos
