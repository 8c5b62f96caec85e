// Numbers picked out of the texts the programs exchange (tool output,
// status lines, batch lines, set-up files).
#pragma once

#include <optional>
#include <string_view>

namespace qor {

// The first decimal integer of a text as scanf's "%d" reads it: leading
// white space and a sign allowed, nothing when no digit follows. Saturates
// at the int range instead of overflowing. rest, when given, receives what
// follows the digits.
std::optional<int> read_int(std::string_view text, std::string_view* rest = nullptr);

} // namespace qor
