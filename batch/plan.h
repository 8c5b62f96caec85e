// What a batch file will do, line by line, before the night: the driver
// lists the lines that would stop the run when it loads the file, and
// batchcheck prints the whole plan. Both use the driver's own reading of a
// line (line.h).
#pragma once

#include "line.h"
#include "store.h"

#include <optional>
#include <string>
#include <vector>

namespace qobs {

// A line as the run would work it, or the first fault that would stop the
// run at it: an unreadable field, or a filter missing from the table (not
// checked without a table).
qor::ParsedLine line_as_run(std::string_view line, const FilterTable* table);

struct NumberedFault {
    int line = 0; // from 1
    LineFault fault;
};
// Faults of every line the run would work, in file order.
std::vector<NumberedFault> pending_faults(const BatchStore& store, const FilterTable* table);

// Where the telescope and the filter wheel are before a line, as far as known.
struct Scene {
    std::optional<qor::TelescopePosition> telescope; // equinox of date
    std::optional<int> filter;
};

// One line of the plan for a pending line that can be worked, as the full
// build would work it; updates the scene to where the line leaves it.
std::string plan_line(int line_number, const BatchLine& line, const FilterTable& table, float a_ep,
                      Scene& scene);

} // namespace qobs
