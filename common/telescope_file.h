// /u/tarnu/status/telescope.txt, rewritten by the link daemon for every
// status record, nine lines: the status line in seven pieces of ten
// positions (the sixth, 50-59, with a blank after positions 53 and 55:
// "TR00 OK 0003"), then "%04d.%02d" of exp3's two numbers, then the
// exposure-phase text (phase.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qor {

std::string telescope_file_text(std::string_view status_line, float tems, int vv,
                                std::string_view phase_text);

struct TelescopeFile {
    std::string status_line; // lines 1-7 joined again, the two blanks taken out
    std::string numbers;     // line 8
    std::string phase_text;  // line 9
};
// Nothing when the text is not whole (a writer still at work) or not this
// file's layout.
std::optional<TelescopeFile> read_telescope_file(std::string_view text);

} // namespace qor
