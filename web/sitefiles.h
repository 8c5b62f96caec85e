// Reading the status files the night's programs leave for the observers.
//
// Every function takes the text of one file as it was read, which may be
// empty, cut short by a writer still at work, or not the file's format at
// all; each then returns nothing rather than a guess, so that the page can
// say "not available" for that part alone. The status line, telescope.txt,
// the exposure phase and the batch line are read by their codecs in common/.
#pragma once

#include "batch_line.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qstatus {

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

// nowjob.txt: the batch line being worked, as the driver read it (its text
// without the line end).
std::optional<qor::BatchLine> line_being_worked(std::string_view text);

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
