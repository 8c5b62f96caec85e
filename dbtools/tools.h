// The camera-database command tools, each a function of the seam and its
// arguments (args[0] the program's name) returning the exit status; their
// mains (main.cpp) only hand them the real system.
#pragma once

#include "system.h"

#include <string>
#include <vector>

namespace qdb {

using Args = std::vector<std::string>;

// Seconds between expstart's looks at the camera's phase, and the time
// newimage2 gives the camera system to finish writing the frame.
inline constexpr double expstart_poll = 4;
inline constexpr double newimage2_delay = 3;

// ccd2fits waits for a frame still being written (60 s at most), then copies it.
inline constexpr double fits_limit = 120;

int keyset(qor::System& system, const Args& args);
int keyshow(qor::System& system, const Args& args);
int varshow(qor::System& system, const Args& args);
int exptimes(qor::System& system, const Args& args);
int ccdtemp(qor::System& system, const Args& args);
int jdstamp(qor::System& system, const Args& args);
int expstart(qor::System& system, const Args& args);
int newimage2(qor::System& system, const Args& args);

} // namespace qdb
