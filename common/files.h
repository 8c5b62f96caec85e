// Files outside the seam, for the simulators, the test fixtures and the
// few places that need no System: the same real operations the seam's
// RealSystem does (system.h).
#pragma once

#include "system.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qor {

// Replaces the file whole (temporary file, sync, rename, folder synced);
// on failure the old file is left as it was.
Done replace_file(const std::string& path, std::string_view content);

// Appends to the file (created when missing).
Done append_file(const std::string& path, std::string_view content);

// The whole file, or nothing when it cannot be read.
std::optional<std::string> read_file(const std::string& path);

// The first line of the file (newline kept, as fgets keeps it), at most
// max_chars characters of it; nothing when the file cannot be opened.
std::optional<std::string> read_first_line(const std::string& path, std::size_t max_chars);

bool file_exists(const std::string& path);

} // namespace qor
