// Text forms of the far end: sexagesimal fields of the status record and the
// escaped byte form used in the logs and on the control line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qor::scope {

// "hh:mm:ss.t" of a time or right ascension in hours, wrapped into 0..24.
std::string hms_text(double hours);

// Sign ('+' or '-') and "dd:mm:ss.t" of an angle in degrees: 11 characters.
std::string dms_text(double degrees);

// "h:mm:ss.t" of a magnitude in hours, one hour digit: 9 characters. Values
// of ten hours or more show as 9:59:59.9.
std::string short_hms_text(double hours);

// Bytes as one log line: printable ASCII as it is, backslash as "\\",
// newline, carriage return and tab as "\n", "\r", "\t", anything else "\xHH".
std::string escape_bytes(std::string_view bytes);

// The reverse of escape_bytes; nothing for a malformed escape.
std::optional<std::string> unescape_bytes(std::string_view text);

} // namespace qor::scope
