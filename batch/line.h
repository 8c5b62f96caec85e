// What the driver makes of a batch line (common/batch_line.h reads and
// checks it): the camera set-up file, the filter command, the move command
// of each frame, and the pointing error. batchcheck runs the same routines.
#pragma once

#include "batch_line.h"
#include "filters.h"
#include "status_line.h"
#include "text.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace qobs {

using qor::BatchLine;
using qor::fault_text;
using qor::FilterTable;
using qor::is_pending;
using qor::LineFault;
using qor::parse_batch_line;
using qor::parse_filter_table;
using qor::trim_trailing_blanks;
using qor::words_of;

// The filter must also be in the table: a fault of field 2 when it is not.
std::optional<LineFault> check_filter(const BatchLine& line, const FilterTable& table);

// setpar: the eight lines of fff.dat, and the leading integers of fields 10
// and 11 (nothing when a field does not start with a number).
struct Setup {
    std::string fff_dat;
    std::optional<int> nsc, nsr;
};
Setup setpar(const BatchLine& line);

// getfiltframe: the filter command ("filt_%s" with field 2; its first
// character a blank when nothing is to be posted) and the number of frames.
// Nothing when the filter is not in the table. beam: the filter number at
// status-line positions 56-59, when the status line holds one.
struct FilterFrames {
    std::string command;
    int frames = 0;
    int wanted = 0; // filter number the line asks for
};
std::optional<FilterFrames> getfiltframe(const BatchLine& line, const FilterTable& table,
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
Pointing getradec(const BatchLine& line, int q, float a_ep);

// Whole seconds of the exposure time (field 3), the driver's pause before it
// looks for the frame.
int exposure_seconds(const BatchLine& line);
// The line after its last blank, line end included (the object name).
std::string object_text(std::string_view line);

// Squared pointing error in square arc seconds, at most 900.
int pointing_error(const qor::TelescopePosition& telescope, float a_ra, float a_dec);

} // namespace qobs
