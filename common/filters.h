// The filter table of the site, /u/tarnu/FILTER: a filter letter (as batch
// lines name it), white space and the filter number the telescope reports,
// a line each. The driver, the previews and the status page read it alike.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace qor {

struct FilterTable {
    struct Entry {
        char letter;
        int number;
    };
    std::vector<Entry> entries;

    // The letter of the first entry with the number, if any.
    std::optional<char> letter_of(int number) const;
};

// At most this many entries are used; lines after them are not read.
inline constexpr std::size_t max_filters = 30;

// Lines that begin with white space or hold no number after the letter are
// not entries; the last line may lack its line end.
FilterTable parse_filter_table(std::string_view text);

} // namespace qor
