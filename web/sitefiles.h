// Reading the status files the night's programs leave for the observers.
//
// Every function takes the text of one file as it was read, which may be
// empty, cut short by a writer still at work, or not the file's format at
// all; each then returns nothing rather than a guess, so that the page can
// say "not available" for that part alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qstatus {

// Fields of the telescope status line (the record without its backquote).
struct Position {
    std::string clock;         // telescope computer's clock, hh:mm:ss.t
    std::string ra;            // hh:mm:ss.t
    std::string dec;           // sign and dd:mm:ss.t
    std::optional<int> filter; // number in the beam (positions 56-59)
};
std::optional<Position> decode_status_line(std::string_view line);

// telescope.txt: the status line (lines 1-7 joined again) and the
// exposure-phase text of its last line.
struct TelescopeFile {
    std::string status_line;
    std::string phase_text;
};
std::optional<TelescopeFile> split_telescope_txt(std::string_view text);

// The camera's phase, told apart by the length of the exposure-phase text as
// the link daemon tells it.
enum class Phase { exposing, reading_out, idle };
struct Exposure {
    Phase phase = Phase::idle;
    std::string began;              // hh:mm:ss of the current (or last) exposure
    std::optional<int> remaining_s; // exposing: seconds left when the record came
    std::optional<int> readout_s;   // reading out: seconds so far, once shown
};
std::optional<Exposure> parse_phase(std::string_view text);

// job.txt, the description of the running exposure.
struct Job {
    int frame = 0;      // observation number
    std::string note;   // the network job line, when there is one
    std::string code;   // catalogue code, or "NONE"
    std::string title;  // catalogue description, or the telescope position
    std::string object; // object name as the camera database holds it
    std::string filter; // "3 V", or "?"
    int exptime_s = 0;
    std::string size; // "rows x columns"
};
std::optional<Job> parse_job(std::string_view text);

// One batch line (nowjob.txt holds the one being worked).
struct BatchLine {
    std::string text;
    std::string code, filter, exptime, object;
    std::optional<int> frames;
};
std::optional<BatchLine> parse_batch_line(std::string_view text);

// Progress through the batch file, from the done marks the driver puts in
// front of every finished line.
struct Progress {
    int done = 0;
    int pending = 0;
    int other = 0; // comments, disabled and empty lines
    long frames_done = 0;
    long frames_pending = 0;
    std::optional<int> next_line; // 1-based number of the first pending line
};
std::optional<Progress> batch_progress(std::string_view text);

// lastimage.txt: the frame's path and its eight header cards.
struct LastImage {
    std::string path;
    std::string frame; // the path's last component
    std::vector<std::string> cards;
};
std::optional<LastImage> parse_lastimage(std::string_view text);

// The last n lines of a log; the first line is dropped when the text starts
// in the middle of the file (cut_at_start), since it is only a part.
std::vector<std::string> last_lines(std::string_view text, std::size_t n, bool cut_at_start);

// The letter of a filter number in the FILTER table ("V 3" a line), if any.
std::optional<char> filter_letter(std::string_view filter_table, int number);

// "image/jpeg" or "image/gif" when the bytes hold a whole image of that kind
// (start and end markers in place), nullptr for anything else: a preview that
// convert is still writing is not whole.
const char* image_type(std::string_view bytes);

} // namespace qstatus
