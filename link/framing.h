// Records on the serial line: what the daemon sends and how it sorts what
// arrives. A record starts with a backquote in both directions.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace qlink {

inline constexpr char mark = '`';

// The speed named by the BAUD file's text: the first line that is not a
// comment, when it is ended by a newline. 9600 otherwise.
int baud_from(std::string_view content);

// The port's speed setting for an accepted speed, nothing for any other.
std::optional<unsigned> speed_setting(int baud);

// Configures the open port (raw 8N1, reads return at once). The speed comes
// from the BAUD file when use_baud_file is set, and then "BAUD: %d\n" is
// printed when verbose (a port without the file has nothing to tell).
// 0 on success, -1 after "Failed to tcgetattr".
int set_com(int fd, bool verbose, bool use_baud_file);

// A backquote and the payload.
std::string frame(std::string_view payload);

// The answer to a time request for a moment of the local clock:
// backquote, hhmmss, newline.
std::string time_answer(std::time_t t);

// The far end may send an apostrophe for ':' and a double quote for '.';
// blanks become '_' and '=' becomes '0' so that the text is one word.
void substitute(std::string& text);

// A read that does not hold a record start at index 69 loses its first
// 69 characters (once): the start of a record is then further on.
void split69(std::string& text);

// Texts of 54 to 68 characters are never used.
bool in_length_window(std::size_t n);

// The text up to its first NUL, as the C-string users downstream see it.
std::string_view c_text(std::string_view text);

// The first line of a file's text, newline kept, at most max characters of
// it (what fgets gives).
std::string_view first_line(std::string_view text, std::size_t max);

} // namespace qlink
