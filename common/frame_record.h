// The record of one frame: what the driver knew when it started the
// exposure, kept as a small JSON file beside the frame (/data/dN.json for
// /data/dN.ccd), so that what a frame was of never depends on exp.dat
// surviving the next frame. The driver writes it; the archive tools read it.
#pragma once

#include "sexagesimal.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

struct FrameRecord {
    std::string frame;      // file name of the frame, "d12.ccd"
    long obsnum = 0;        // the observation number in that name
    std::string batch_file; // path of the batch file
    int line_number = 0;    // line of the batch file, from 1
    std::string line;       // the line as worked, without its line end
    int frame_index = 0;    // frame of the line, from 0
    int frames_in_line = 0; // frames the line asks for
    std::string object;     // field 14
    std::string ra_j2000;   // "hh:mm:ss.s" as the move command carries it
    std::string dec_j2000;  // "[-]dd:mm:ss" as the move command carries it
    double ra_deg = 0;      // the same position, J2000.0, in degrees
    double dec_deg = 0;
    std::string ra_telescope;  // status line positions 20-29, equinox of date
    std::string dec_telescope; // status line positions 30-39
    double telescope_equinox = 0;
    std::string filter; // filter letter
    int filter_number = 0;
    double exposure = 0;               // seconds, field 3
    std::string readout;               // "Slow", "Fast" or "Medium"
    std::array<std::string, 4> window; // fields 8-11 as they stand
    std::string observers;             // the night's observers line
    std::string utc_start;             // "YYYY-MM-DDThh:mm:ss.sss", UTC, start of exposure
    double jd_start = 0;               // the same instant as a Julian date
    std::string build;                 // the driver build that took the frame
};

// The record as JSON text (one field a line, newline at the end). Bytes that
// are not UTF-8 become U+FFFD rather than making the record unwritable.
std::string to_json(const FrameRecord& record);

// What a record file holds. problems names every field that is missing or
// malformed ("missing object", "malformed ra_deg: not a number"), or says
// that the text is not JSON at all (a record cut short); empty when the
// record can be used. Never throws.
struct RecordRead {
    FrameRecord record; // the fields that could be read
    std::vector<std::string> problems;
    bool ok() const { return problems.empty(); }
};
RecordRead parse_frame_record(std::string_view text);

// Where the record of a frame lives: /data/d12.ccd -> /data/d12.json.
std::string record_path_for(const std::string& frame_path);
// The record of observation N under the site root: /data/dN.json.
std::string frame_record_path(long obsnum);

// Time in the record's forms, from seconds since the epoch: UTC as
// "YYYY-MM-DDThh:mm:ss.sss", and the Julian date.
std::string iso_utc(double unix_seconds);
double julian_date(double unix_seconds);
// Seconds since the epoch of "YYYY-MM-DDThh:mm:ss[.fff]" (UTC; a trailing
// 'Z' is allowed); nothing when the text is not of that form.
std::optional<double> parse_iso_utc(std::string_view text);


} // namespace qor
