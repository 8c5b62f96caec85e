#include "files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qor {

namespace {

bool write_all(int fd, std::string_view content) {
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Makes a rename in the folder of path survive a crash: the new directory
// entry is on disk only once the folder itself has been synced. A folder
// that cannot be synced (some file systems refuse) still holds the new file.
void sync_folder(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

mode_t default_mode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

} // namespace

bool replace_file(const std::string& path, std::string_view content) {
    std::string tmp = path + ".XXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    // Keep the mode of the file being replaced; a new file gets the usual one.
    struct stat old {};
    mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : default_mode();
    bool ok = fchmod(fd, mode) == 0 && write_all(fd, content) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok && rename(tmp.c_str(), path.c_str()) == 0) {
        sync_folder(path);
        return true;
    }
    unlink(tmp.c_str());
    return false;
}

bool append_file(const std::string& path, std::string_view content) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = write_all(fd, content);
    return (close(fd) == 0) && ok;
}

std::optional<std::string> read_file(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rbe");
    if (f == nullptr) return std::nullopt;
    std::string data;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return std::nullopt;
    return data;
}

std::optional<std::string> read_first_line(const std::string& path, std::size_t max_chars) {
    FILE* f = std::fopen(path.c_str(), "re");
    if (f == nullptr) return std::nullopt;
    std::string line;
    int c;
    while (line.size() < max_chars && (c = std::fgetc(f)) != EOF) {
        line += static_cast<char>(c);
        if (c == '\n') break;
    }
    std::fclose(f);
    return line;
}

bool file_exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

} // namespace qor
