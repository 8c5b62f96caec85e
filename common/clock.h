// Local time as the system's programs read it: the asctime text, picked
// apart by character position ("Sun Dec  6 19:44:56 2026\n").
#pragma once

#include <ctime>
#include <string>

namespace qor {

// The 25-character asctime text of a moment in local time, newline included.
std::string asctime_text(std::time_t t);

// The asctime text of now.
std::string now_asctime();

// "hh:mm:ss" of a moment in local time (characters 11-18 of the asctime text).
std::string clock_text(std::time_t t);

} // namespace qor
