// The batch file in memory. The run covers the first 1999 lines; whatever
// follows them (further lines, a last line without a line end) is not worked
// but written back exactly as it stood, so rewriting the file never loses
// any of it. A worked line becomes "v   " and the line, however long.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qobs {

struct BatchStore {
    static constexpr std::size_t max_lines = 1999;

    std::vector<std::string> lines;  // the lines of the run, each with its line end
    std::vector<std::string> beyond; // lines after the 1999th
    std::string unended;             // a last line without a line end

    static BatchStore parse(std::string_view text);
    void mark(std::size_t index, std::string_view worked) {
        lines[index] = "v   " + std::string(worked);
    }
    // The whole file as it is to be written back.
    std::string text() const;
};

} // namespace qobs
