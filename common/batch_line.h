// A batch line: one observation, 14 blank-separated fields, at most 119
// characters with its line end.
//
//   A0V1 V 10 3 05:35:17.3 -05:23:28 2000 0 0 512 512 1 f M42
//   code filter seconds frames ra dec equinox sc sr nc nr flag speed object
//
// Field 1 has exactly 4 characters (a first 'C' makes a line of kind C: no
// dither, looser pointing); fields 1 to 4 are separated by single blanks and
// the coordinates are read from the fourth blank. Fields 1 to 11 hold at
// most 15 characters, the object name 43. A line whose third character is a
// blank is done (marked "v   ") or disabled.
//
// A line is read once, every field checked as the driver computes with it,
// into a value the driver, batchcheck and the status page consume: a typo
// never points the telescope somewhere else.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace qor {

struct BatchLine {
    std::string text; // as worked: trailing blanks (and the CR of CR LF) gone, line end kept
    std::string code, filter;
    std::string exposure; // field 3 as written
    double seconds = 0;   // its value
    int frames = 0;
    std::string ra, dec, equinox; // fields 5-7 as written
    double ra_hours = 0, dec_degrees = 0, equinox_year = 2000;
    std::array<std::string, 4> setup; // fields 8-11: start column, start row, columns, rows
    std::string flag, speed, object;
    bool kind_c() const { return code[0] == 'C'; }
};

// A field that would stop the run, and why.
struct LineFault {
    int field = 0; // 1..14, or 0 for the whole line
    std::string problem;
};

// Sizes of a line and of its fields (line end included in the line's).
inline constexpr std::size_t max_line = 119;
inline constexpr std::size_t max_field = 15;  // fields 1 to 11
inline constexpr std::size_t max_object = 43; // field 14

// The line, or the first fault that would stop the run at it.
struct ParsedLine {
    std::optional<BatchLine> line;
    std::optional<LineFault> fault;
};
ParsedLine parse_batch_line(std::string_view text);

const char* field_name(int field);
// "line 7, field 5 (right ascension): ..." and a line end: what batchcheck
// prints and what the driver lists when it loads the file.
std::string fault_text(int line_number, const LineFault& fault);
// A fault's words for a field's text: quoted, nothing in it reaching a terminal raw.
std::string quoted(std::string_view text);

// Worked only when the third character is there and is not a blank.
bool is_pending(std::string_view line);
// Trailing blanks (and the CR of a CR LF line end) go; the line end stays.
std::string trim_trailing_blanks(std::string line);

} // namespace qor
