#include "filters.h"

#include "text.h"

#include <cctype>

namespace qor {

std::optional<char> FilterTable::letter_of(int number) const {
    for (const auto& e : entries)
        if (e.number == number) return e.letter;
    return std::nullopt;
}

FilterTable parse_filter_table(std::string_view text) {
    FilterTable table;
    std::size_t pos = 0;
    while (pos < text.size() && table.entries.size() < max_filters) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty() || std::isspace(static_cast<unsigned char>(line[0]))) continue;
        if (auto n = read_int(line.substr(1))) table.entries.push_back({line[0], *n});
    }
    return table;
}

} // namespace qor
