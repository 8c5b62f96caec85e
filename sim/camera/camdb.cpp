#include "camdb.h"

#include "files.h"
#include "site.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace qor::sim {

namespace {

constexpr std::size_t max_key = 200;

std::string key_path(std::string_view key) {
    return camdb_dir() + "/" + std::string(key);
}

bool make_dirs(const std::string& dir) {
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            std::string part = dir.substr(0, pos);
            if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

} // namespace

std::string camdb_dir() {
    return site_path("/var/camdb");
}

bool valid_key(std::string_view key) {
    if (key.empty() || key.size() > max_key || key.front() == '.') return false;
    for (char c : key) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::optional<std::string> db_get(std::string_view key) {
    if (!valid_key(key)) return std::nullopt;
    return read_file(key_path(key));
}

bool db_set(std::string_view key, std::string_view value) {
    if (!valid_key(key)) return false;
    if (!make_dirs(camdb_dir())) return false;
    return static_cast<bool>(replace_file(key_path(key), value));
}

long db_get_long(std::string_view key, long fallback) {
    auto v = db_get(key);
    if (!v) return fallback;
    errno = 0;
    char* end = nullptr;
    long n = std::strtol(v->c_str(), &end, 10);
    if (end == v->c_str() || errno != 0) return fallback;
    return n;
}

void hang_if_asked(std::string_view program, std::string_view key) {
    auto hang = db_get("sim.hang." + std::string(program));
    if (!hang || hang->empty()) return;
    if (*hang != "1" && key.substr(0, hang->size()) != *hang) return;
    for (;;) pause();
}

} // namespace qor::sim
