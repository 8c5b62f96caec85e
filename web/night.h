// The night report: the night's index of frames and its events, read from
// their texts, and the facts the report shows.
//
// As with the status files, a text may be cut short by a writer at work, or
// hold garbage, or lines of other nights: the parsers keep what is whole
// and of the night, count the rest, and refuse a text that is not of its
// kind at all, so that the report can say so for that part alone.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qstatus {

// From one local noon to the next (see night_start), in seconds since the
// epoch.
struct NightWindow {
    double begin = 0, end = 0;
    bool holds(double t) const { return t >= begin && t < end; }
};

// The index's columns, in the order archive/ writes them.
inline constexpr std::size_t index_columns = 14;
extern const char* const index_column_names[index_columns];

struct IndexRow {
    long number = 0;                  // of the frame dN.ccd
    std::vector<std::string> fields;  // index_columns of them
    std::optional<double> start;      // utc_start, seconds since the epoch
    std::optional<std::string> thumb; // the thumbnail's address, when there is one
};

struct Index {
    std::vector<IndexRow> rows; // of the night, in the file's order
    int other_nights = 0;       // rows dated outside the night
    int undated = 0;
    int garbage = 0;           // rows not in the index's form
    bool cut = false;          // the last row cut short
    bool begin_unread = false; // rows_cut, and the first row read is of the night
};

// heading: the file's first line; rows: the text after it or, when
// rows_cut, only its last part (whose first, partial, line is dropped).
// Nothing when the heading is not the index's.
std::optional<Index> parse_index(std::string_view heading, std::string_view rows, bool rows_cut,
                                 NightWindow night);

// Spans of the night's time, from the driver's events: an exposure from its
// start for its seconds, its read-out from then until the driver has the
// frame, a slew or filter change from the command posted to the telescope's
// reply, a wait until the next event that is not a wait.
enum class SpanKind { exposure, readout, slew, filter, wait };
struct Span {
    SpanKind kind = SpanKind::exposure;
    double begin = 0, end = 0;
    std::string text;
    bool open = false; // no event ended it: it lasts until now
};
// Moments: a batch line begun, something gone wrong, the run's end.
enum class MarkKind { line, fault, end };
struct Mark {
    MarkKind kind = MarkKind::line;
    double at = 0;
    std::string text;
};

struct Timeline {
    std::vector<Span> spans;
    std::vector<Mark> marks;
    int garbage = 0;           // lines not in the events' form
    bool cut = false;          // the last line cut short
    bool begin_unread = false; // cut_at_start, and the first line read is of the night
};

// text: events.log, or with cut_at_start only its last part. Events outside
// the night are passed over; spans still open end at now (within the
// night). Nothing when the text holds lines but not one event.
std::optional<Timeline> parse_events(std::string_view text, bool cut_at_start, NightWindow night,
                                     double now);

// "d<digits>.jpg", the only names a thumbnail may have.
bool thumbnail_name(std::string_view name);

// The parts of /night.json; read_limit is the most read of either file
// (bytes), for the report to say when only the last part was read.
nlohmann::ordered_json index_facts(const Index& index, std::size_t read_limit);
nlohmann::ordered_json timeline_facts(const Timeline& timeline, std::size_t read_limit);

} // namespace qstatus
