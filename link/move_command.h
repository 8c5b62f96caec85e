// Move commands: the driver posts free-form sexagesimal coordinates; the
// telescope control computer wants them in one fixed form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qlink {

// Parses "ra dec [epoch]" (the text after the command word). On success
// stores right ascension (hours), declination (degrees) and epoch (years)
// and returns 1; returns 0 and leaves them untouched when the text does not
// hold two readable coordinates that fit the fixed form.
int itohd(std::string_view text, float& ra, float& dec, float& epoch);

// Sexagesimal text of a value: flag 1 gives " hh:mm:ss.t" (11 characters),
// flag 0 gives " dd:mm:ss" (9 characters, rounded to whole seconds). The
// first character is '-' for a negative value, else a blank.
std::string zoms(double x, int flag);

// The command as the far end wants it: the four-letter word, the fixed-form
// coordinates, the epoch when it is not 2000, a newline. Nothing when the
// coordinates cannot be parsed.
std::optional<std::string> rewrite_move(std::string_view command);

} // namespace qlink
