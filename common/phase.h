// The camera's exposure phase as the link daemon publishes it (the last
// line of telescope.txt), built from the three stamps exp3 prints (begin,
// end and readout end of the last exposure, 21 characters each, separated
// by one character). One of three forms, told apart by length:
//
//   exposing     begin stamp, then the remaining seconds "%8d"          29
//   reading out  begin, separator, end, then the readout seconds "%8d"  51
//                (or one blank while none are known)                    44
//   idle         the three stamps and their separators as exp3 printed  65
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qor {

enum class Phase { exposing, reading_out, idle };

// By the length of the text, as the job tracker tells them: up to 40
// exposing, up to 62 reading out, longer idle.
Phase phase_of(std::string_view text);

// The texts of the two moving phases from exp3's output (its first 21 or
// 43 characters are kept).
std::string exposing_text(std::string_view exp3_out, int remaining);
std::string reading_out_text(std::string_view exp3_out, std::optional<int> seconds);

// What the text says, for a reader (the status page): nothing when it does
// not begin with a stamp whose hh:mm:ss can be read.
struct PhaseReading {
    Phase phase = Phase::idle;
    std::string began;              // hh:mm:ss of the current (or last) exposure
    std::optional<int> remaining_s; // exposing: seconds left
    std::optional<int> readout_s;   // reading out: seconds so far, once shown
};
std::optional<PhaseReading> read_phase(std::string_view text);

// Whether the camera takes a new exposure, as expstart reads the text:
// index 45 lies in the readout-end stamp while it is idle, and is a blank
// while the readout seconds are shown. A shorter text is an exposure in
// progress (or a file caught while it is rewritten).
bool camera_free(std::string_view text);

} // namespace qor
