// Writing files so that no reader and no crash ever sees half a file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qor {

// Replaces the file whole: the content goes to a temporary file in the same
// directory, is flushed to disk, and is renamed over the old file; then the
// directory is synced, so the rename too survives a crash. On any failure
// the old file is left as it was and false is returned.
bool replace_file(const std::string& path, std::string_view content);

// Appends to the file (created when missing). False when it cannot be written.
bool append_file(const std::string& path, std::string_view content);

// The whole file, or nothing when it cannot be read.
std::optional<std::string> read_file(const std::string& path);

// The first line of the file (newline kept, as fgets keeps it), at most
// max_chars characters of it; nothing when the file cannot be opened.
std::optional<std::string> read_first_line(const std::string& path, std::size_t max_chars);

bool file_exists(const std::string& path);

} // namespace qor
