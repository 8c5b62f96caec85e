// Sexagesimal text: a value in hours or degrees as whole units, minutes and
// seconds. Every rendering of the system splits a value the same way, in
// single precision as the telescope computer's fixed form was made, and
// carries the same way (tenths into seconds, seconds into minutes, minutes
// into units, units never wrapped); they differ only in how they round the
// last place shown and in how they print it:
//
//   the daemon's fixed form of a move (zoms):  " hh:mm:ss.t"  " dd:mm:ss"
//   the driver's move command (toms1):          "hh:mm:ss.t"   "[-]dd:mm:ss"
//   the image library's (toms):                 with a sign place, or "ddd:mm:ss.t"
#pragma once

#include <optional>
#include <string_view>

namespace qor {

enum class Rounding {
    tenths,            // tenths of a second, rounded half up
    seconds_by_tenths, // whole seconds: the rounded tenths, then half a second more (up from .45)
    seconds_over_half, // whole seconds: up when the fraction is above a half
};

struct SexagesimalParts {
    bool negative = false;
    int whole = 0, minutes = 0, seconds = 0;
    int tenths = 0; // 0 when whole seconds are asked for
};

// The parts of value (its sign apart); value must be finite and below a
// million (callers keep their own guard for anything else).
SexagesimalParts sexagesimal_parts(float value, Rounding rounding);

// The value of "hh:mm:ss.s" or "[+-]dd:mm:ss" (minutes and seconds may be
// left off, one trailing character after the seconds is allowed, as the
// status line carries it); nothing when it is not such a text.
std::optional<double> sexagesimal(std::string_view text);

} // namespace qor
