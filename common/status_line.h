// The telescope's status line: a status record of the telescope control
// computer without its leading backquote, as the mailbox key v1 holds it.
// Sixty-seven characters at fixed positions:
//
//    0-9   clock of the telescope computer, hh:mm:ss.t
//   10-19  a second clock, hh:mm:ss.t
//   20-29  right ascension, hh:mm:ss.t
//   30-40  declination: sign, dd:mm:ss.t
//   41-49  a further field, h:mm:ss.t
//   50-59  instrument state: 50 slewing (S) or tracking, 51 dome, 52-53 slew
//          counter, 54-55 filter wheel, 56-59 number of the filter in the beam
//   60-66  further characters (the outside temperature)
//
// A line read from the database may be short, cut or garbage: every reading
// here gives nothing rather than a guess.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qor {

struct StatusFields {
    std::string clock, second_clock, ra, dec, further, instrument, tail;
};

// The fields as far as the line goes ("" for those it does not reach).
StatusFields split_status_line(std::string_view line);
// The line of the fields, each in its place.
std::string status_line_text(const StatusFields& fields);

// Separators not in place in a received record (backquote at index 0):
// ':' and '.' of the five sexagesimal fields. 0 means a status record.
int separator_faults(std::string_view record);

// The telescope computer's clock in seconds of the day (hh:mm:ss at 0-7).
std::optional<int> clock_seconds(std::string_view line);
// The number of the filter in the beam (56-59).
std::optional<int> beam_filter(std::string_view line);

// The telescope's position as the driver reads it for the pointing check:
// hours, minutes, decimal seconds of right ascension, degrees, minutes and
// whole seconds of declination (20-38), the sign at 30.
struct TelescopePosition {
    double ra = 0;  // hours
    double dec = 0; // degrees
};
std::optional<TelescopePosition> telescope_position(std::string_view line);

// The characters that change while the telescope moves: the slew counter
// (52, 53) and the tens of the seconds of both coordinates (26, 37); empty
// when the line is too short to show them.
std::string motion_marks(std::string_view line);

// The clock, right ascension and declination as texts checked to be of
// their form (the declination's sign '+' or '-'; the blank an unsigned one
// carries may come as '_'), and the filter: what the status page shows.
struct StatusReading {
    std::string clock, ra, dec;
    std::optional<int> filter;
};
std::optional<StatusReading> read_status_line(std::string_view line);

// The position log's line: clock, right ascension and declination to whole
// arc seconds (0-9, a blank, 20-38), and a line end.
std::string position_log_line(std::string_view line);

} // namespace qor
