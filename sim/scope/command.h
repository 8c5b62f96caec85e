// What the host sends the far end, and what the far end answers.
//
// Records from the host start with a backquote: a lone backquote is a poll,
// '&' and '$' ask the dome to start or stop, a NUL asks for attention after a
// (re)start, six digits and a newline answer our time request, anything else
// is a command line ("move  12:34:56.7 -12:34:56", "filt R").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qor::scope {

enum class Kind { poll, attention, dome_start, dome_stop, time_answer, move, filter, other };

// The kind of a received record (bytes as received, backquote included when
// there was one; a command written without framing counts as a command).
Kind classify(std::string_view record);

// The record without its backquote and without a trailing CR/LF.
std::string payload_of(std::string_view record);

struct MoveTarget {
    double ra_h = 0;
    double dec_deg = 0;
    double epoch = 2000.0;
};

struct MoveParse {
    std::optional<MoveTarget> target;
    std::string error; // why the command cannot be carried out
};

// Parses "move RA DEC [EPOCH]" (the first word only has to begin "mo").
// RA is hh:mm:ss.t or decimal hours, 0..24; DEC [+-]dd:mm:ss, -90..90;
// an epoch outside 1950..2050 is taken as 2000.
MoveParse parse_move(std::string_view payload);

// Seconds of the day of a time answer "hhmmss"; nothing when malformed.
std::optional<int> parse_time_answer(std::string_view payload);

// Difference answer - host in seconds, folded into -43200..43199 so that a
// check across midnight works.
int clock_difference(int answer_s, int host_s);

// The filters on the wheel: letter and number, as in the site's FILTER file.
using FilterTable = std::vector<std::pair<char, int>>;

// Reads "letter number" lines; a missing or empty file gives the default wheel.
FilterTable load_filter_table(const std::string& path);
FilterTable default_filter_table();

// The filter number of the argument of "filt X": a single character is a
// letter of the table (or, failing that, a digit), a longer one a number
// 1..9999. Nothing when there is no such filter.
std::optional<int> filter_number(const FilterTable& table, std::string_view arg);

// Reply records. The batch side reads the sixth character: 'e' marks a
// failed command, so a good reply never has it there. Replies never begin
// with a backquote, "ti" or "TI" and stay shorter than 54 characters, so the
// host classes them as replies.
std::string done_reply(std::string_view word);
std::string error_reply(std::string_view word, std::string_view why);

} // namespace qor::scope
