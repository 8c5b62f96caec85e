// Running other programs without a shell.
//
// The documented command lines of the system are run as argument vectors:
// the words are those that sh would make of the line (split at blanks, tabs
// and newlines, nothing else interpreted), so text that came from the serial
// line or a batch file is always one literal argument and never runs anything.
// Programs named without a '/' are found through PATH.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

using Argv = std::vector<std::string>;

// The words of a command line, split at blanks, tabs and newlines.
Argv command_words(std::string_view line);

// Runs the program, waits for it and returns its exit status (0..255),
// 128 + the signal number when a signal ended it, 127 when it could not be
// started (as sh reports it).
int run(const Argv& argv);

struct Captured {
    std::string out; // at most the requested number of bytes of its standard output
    int status = 127;
};

// Runs the program with its standard output read through a pipe, keeping at
// most max_bytes of it. As with a fixed-size read from a pipe, the rest is
// not read: the pipe is closed and the program waited for.
Captured run_capture(const Argv& argv, std::size_t max_bytes);

// Starts the program in the background, detached (its own session, standard
// input from /dev/null), and does not wait for it: the "cmd &" of a command
// line. Returns false when it could not even be forked.
bool run_background(const Argv& argv);

} // namespace qor
