// A batch line: one observation, 14 blank-separated fields.
//
//   A0V1 V 10 3 05:35:17.3 -05:23:28 2000 0 0 512 512 1 f M42
//   code filter seconds frames ra dec equinox sc sr nc nr flag speed object
//
// Fields 1 to 4 are separated by single blanks and the coordinates are read
// from the fourth blank; the exposure time is found from character 5. A line
// whose third character is a blank is done (marked "v   ") or disabled.
//
// Here the driver reads a line into what it needs (the camera set-up file,
// the filter command, the move command of each frame) and checks first that
// every field it computes with can be read, so a typo never points the
// telescope somewhere else. batchcheck runs the same routines.
#pragma once

#include "filters.h"
#include "status_line.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qobs {

using qor::FilterTable;
using qor::parse_filter_table;

// A field that would stop the run, and why.
struct LineFault {
    int field = 0; // 1..14, or 0 for the whole line
    std::string problem;
};
// Sizes of a line and of its fields (line end included in the line's).
inline constexpr std::size_t max_line = 119;
inline constexpr std::size_t max_field = 15;  // fields 1 to 11
inline constexpr std::size_t max_object = 43; // field 14
const char* field_name(int field);
// "line 7, field 5 (right ascension): ..." and a line end: what batchcheck
// prints and what the driver lists when it loads the file.
std::string fault_text(int line_number, const LineFault& fault);

// Worked only when the third character is there and is not a blank.
bool is_pending(std::string_view line);
// Trailing blanks (and the CR of a CR LF line end) go; the line end stays.
std::string trim_trailing_blanks(std::string line);

// The white-space separated words of a line.
std::vector<std::string> words_of(std::string_view line);

// Every field the driver reads, checked before anything is done with the
// line: nothing when it can be worked (the filter still has to be found in
// the table, check_filter).
std::optional<LineFault> check_line(std::string_view line);
std::optional<LineFault> check_filter(std::string_view line, const FilterTable& table);

// setpar: the eight lines of fff.dat, and the leading integers of fields 10
// and 11 (nothing when a field does not start with a number).
struct Setup {
    std::string fff_dat;
    std::optional<int> nsc, nsr;
};
Setup setpar(std::string_view line);

// getfiltframe: the filter command ("filt_%s" with field 2; its first
// character a blank when nothing is to be posted) and the number of frames.
// Nothing when the filter is not in the table. beam: the filter number at
// status-line positions 56-59, when the status line holds one.
struct FilterFrames {
    std::string command;
    int frames = 0;
    int wanted = 0; // filter number the line asks for
};
std::optional<FilterFrames> getfiltframe(std::string_view line, const FilterTable& table,
                                         std::optional<int> beam);

// Dither offsets in steps of dmov / 2048 * 58 / 60 degrees; frame q takes
// entry q mod 18, so the first frame of every line is not offset.
inline constexpr std::array<short, 18> dx{0,  5,  -5, -2, 3,  1,  -4, 6, 4,
                                          -1, -6, -8, -9, -7, -3, 2,  7, 8};
inline constexpr std::array<short, 18> dy{0,  0,  0,  4, 4, -4, -4, -4, -8,
                                          -8, -8, -4, 0, 4, 8,  8,  4,  0};
inline constexpr short dmov = 3;

// getradec for frame q: the move command "move_%s_%s" with the dithered
// J2000.0 position, and the same position for the equinox of date a_ep
// (a_ra, a_dec), against which the pointing error is measured.
struct Pointing {
    std::string command;
    std::string ra_text, dec_text;
    float ra2000 = 0, dec2000 = 0; // the J2000.0 position the texts show
    float a_ra = 0, a_dec = 0;
};
Pointing getradec(std::string_view line, int q, float a_ep);

// Whole seconds of the exposure time (field 3), the driver's pause before it
// looks for the frame.
int exposure_seconds(std::string_view line);
// The line after its last blank, line end included (the object name).
std::string object_text(std::string_view line);

// Squared pointing error in square arc seconds, at most 900.
int pointing_error(const qor::TelescopePosition& telescope, float a_ra, float a_dec);

} // namespace qobs
