#include "telescope_file.h"

#include <cstdio>
#include <vector>

namespace qor {

std::string telescope_file_text(std::string_view line, float tems, int vv,
                                std::string_view phase_text) {
    std::string text;
    std::size_t n = std::min<std::size_t>(line.size(), 67);
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 10 == 0 && i > 0) text += '\n';
        text += line[i];
        if (i == 53 || i == 55) text += ' ';
    }
    text += '\n';
    // tems is passed through from exp3; keep the cast defined for any value.
    int whole = (tems > -2e9f && tems < 2e9f) ? static_cast<int>(tems) : 0;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d.%02d\n", whole, vv);
    text += buf;
    text += phase_text;
    text += '\n';
    return text;
}

std::optional<TelescopeFile> read_telescope_file(std::string_view text) {
    // Every line ends with a newline; a text that does not is a file caught
    // in the middle of being written.
    if (text.empty() || text.back() != '\n') return std::nullopt;
    std::vector<std::string_view> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    if (lines.size() < 3) return std::nullopt;
    std::size_t status_lines = lines.size() - 2;
    if (status_lines > 7) return std::nullopt;
    TelescopeFile t;
    for (std::size_t i = 0; i < status_lines; ++i) {
        std::string part(lines[i]);
        if (i == 5) {
            if (part.size() > 7 && part[7] == ' ') part.erase(7, 1);
            if (part.size() > 4 && part[4] == ' ') part.erase(4, 1);
        }
        // Every piece but the last holds ten positions.
        bool last = i + 1 == status_lines;
        if (part.size() > 10 || (!last && part.size() != 10)) return std::nullopt;
        t.status_line += part;
    }
    t.numbers = lines[lines.size() - 2];
    t.phase_text = lines.back();
    return t;
}

} // namespace qor
