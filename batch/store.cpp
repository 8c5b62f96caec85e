#include "store.h"

namespace qobs {

BatchStore BatchStore::parse(std::string_view text) {
    BatchStore s;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            s.unended = std::string(text.substr(pos));
            break;
        }
        std::string line(text.substr(pos, end + 1 - pos));
        (s.lines.size() < max_lines ? s.lines : s.beyond).push_back(std::move(line));
        pos = end + 1;
    }
    return s;
}

std::string BatchStore::text() const {
    std::string out;
    for (const auto& l : lines) out += l;
    for (const auto& l : beyond) out += l;
    return out + unended;
}

} // namespace qobs
