// Numbers picked out of the texts the programs exchange (tool output,
// status lines, batch lines, set-up files).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

// The first decimal integer of a text as scanf's "%d" reads it: leading
// white space and a sign allowed, nothing when no digit follows. Saturates
// at the int range instead of overflowing. rest, when given, receives what
// follows the digits.
std::optional<int> read_int(std::string_view text, std::string_view* rest = nullptr);

// The text as one integer, blanks around it allowed; nothing for any other
// text, or a number beyond the int range.
std::optional<int> whole_int(std::string_view text);

// The lines of a text, without their line ends (a last line without one
// counts; an empty text has none).
std::vector<std::string> lines_of(std::string_view text);

// The white-space separated words of a text.
std::vector<std::string> words_of(std::string_view text);

// A text as it may safely reach a terminal: control bytes (other than tab
// and line end), DEL, and bytes that are not well-formed UTF-8 or encode a
// C1 control are shown as \xHH, so an escape sequence in a batch line or a
// file can never clear or reprogram the observer's terminal, and a NUL
// never cuts what follows it.
std::string printable(std::string_view text);

} // namespace qor
