// Running other programs without a shell.
//
// The documented command lines of the system are run as argument vectors:
// the words are those that sh would make of the line (split at blanks, tabs
// and newlines, nothing else interpreted), so text that came from the serial
// line or a batch file is always one literal argument and never runs anything.
// Programs named without a '/' are found through PATH.
//
// Every program we wait for may hang (a camera system that stopped
// answering, a tool stuck on a lock): it gets a time limit, past which it is
// ended (its process group, SIGTERM, then SIGKILL) and the caller goes on.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

using Argv = std::vector<std::string>;

// The words of a command line, split at blanks, tabs and newlines.
Argv command_words(std::string_view line);

// Seconds a program may run: QOR_TIME_LIMIT from the environment when it
// holds a positive number, else 5. Read once per process.
double default_time_limit();

// For the rare program that is meant to run on (a successor in the foreground).
inline constexpr double no_time_limit = std::numeric_limits<double>::infinity();

// Exit status of a program ended at its time limit, as timeout(1) gives it.
inline constexpr int timed_out_status = 124;

// Runs the program, waits for it and returns its exit status (0..255),
// 128 + the signal number when a signal ended it, 127 when it could not be
// started (as sh reports it), 124 when it was ended at the time limit.
int run(const Argv& argv, double limit_seconds = default_time_limit());

struct Captured {
    std::string out; // at most the requested number of bytes of its standard output
    int status = 127;
    bool timed_out = false;
};

// Runs the program with its standard output read through a pipe, keeping at
// most max_bytes of it. As with a fixed-size read from a pipe, the rest is
// not read: the pipe is closed and the program waited for. Output read
// before a time-out is kept.
Captured run_capture(const Argv& argv, std::size_t max_bytes,
                     double limit_seconds = default_time_limit());

// Starts the program in the background, detached (its own session, standard
// input from /dev/null), and does not wait for it: the "cmd &" of a command
// line. With a log path its standard output and error are appended to that
// file instead of ours, so it holds no pipe of ours open after we end.
// Returns false when it could not be started (no fork, the log cannot be
// opened, or the exec failed: errno then tells why); true once it runs.
bool run_background(const Argv& argv, const std::string& log = {});

} // namespace qor
