#include "files.h"

namespace qor {

Done replace_file(const std::string& path, std::string_view content) {
    RealSystem system;
    return system.replace_file(path, content);
}

Done append_file(const std::string& path, std::string_view content) {
    return real::append_file(path, content);
}

std::optional<std::string> read_file(const std::string& path) {
    return real::read_file(path, whole_file, Links::follow);
}

std::optional<std::string> read_first_line(const std::string& path, std::size_t max_chars) {
    auto text = real::read_file(path, max_chars, Links::follow);
    if (!text) return std::nullopt;
    std::size_t end = text->find('\n');
    if (end != std::string::npos) text->resize(end + 1);
    return text;
}

bool file_exists(const std::string& path) {
    return real::stat(path).has_value();
}

} // namespace qor
