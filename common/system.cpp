#include "system.h"

#include "handle.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qor {

Done Done::error(int err) {
    return because(std::strerror(err));
}

std::string folder_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

Done System::replace_file(const std::string& path, std::string_view content) {
    std::string temp;
    if (Done d = write_temp(path, content, temp); !d) return d;
    if (Done d = rename_file(temp, path); !d) {
        remove_file(temp);
        return d;
    }
    // A folder that cannot be synced (some file systems refuse) still holds
    // the new file; only a crash in the next moments could bring the old back.
    sync_folder(folder_of(path));
    return {};
}

namespace real {

double now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double monotonic() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Measured on the monotonic clock: a wall clock stepped back or forward
// while we sleep changes nothing.
void sleep(double seconds) {
    if (!(seconds > 0)) return;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

std::optional<std::string> read_line(std::size_t max_chars) {
    std::string line;
    bool any = false;
    for (int c; (c = std::getchar()) != EOF;) {
        any = true;
        if (c == '\n') break;
        if (line.size() < max_chars) line += static_cast<char>(c);
    }
    if (!any) return std::nullopt;
    return line;
}

namespace {


bool write_all(int fd, std::string_view content) {
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

mode_t default_mode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

} // namespace

std::optional<std::string> read_file(const std::string& path, std::size_t max_bytes, Links links) {
    int flags = O_RDONLY | O_CLOEXEC | (links == Links::refuse ? O_NOFOLLOW : 0);
    Fd fd(::open(path.c_str(), flags));
    if (!fd) return std::nullopt;
    std::string data;
    char buf[65536];
    while (data.size() < max_bytes) {
        ssize_t n = ::read(fd.get(), buf, std::min(sizeof buf, max_bytes - data.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt; // a folder, a device gone: not a file's content
        if (n == 0) break;
        data.append(buf, static_cast<std::size_t>(n));
    }
    return data;
}

std::optional<FileInfo> stat(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    FileInfo info;
    info.size = static_cast<std::uint64_t>(st.st_size);
    info.modified = static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
    info.folder = S_ISDIR(st.st_mode);
    info.link = S_ISLNK(st.st_mode);
    return info;
}

std::optional<std::vector<std::string>> list(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return std::nullopt;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

Done append_file(const std::string& path, std::string_view content) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (!fd || !write_all(fd.get(), content)) return Done::error(errno);
    if (!fd.close()) return Done::error(errno);
    return {};
}

Done remove_file(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return {};
    return Done::error(errno);
}

Done rename_file(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) == 0) return {};
    return Done::error(errno);
}

Done make_folder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return {};
    return Done::error(errno);
}

Done write_temp(const std::string& path, std::string_view content, std::string& temp) {
    temp = path + ".XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd) return Done::error(errno);
    // Keep the mode of the file being replaced; a new file gets the usual one.
    struct stat old {};
    mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : default_mode();
    bool ok = ::fchmod(fd.get(), mode) == 0 && write_all(fd.get(), content) && ::fsync(fd.get()) == 0;
    int err = ok ? 0 : errno;
    if (!fd.close() && ok) {
        ok = false;
        err = errno;
    }
    if (ok) return {};
    ::unlink(temp.c_str());
    return Done::error(err);
}

Done sync_folder(const std::string& folder) {
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd || ::fsync(fd.get()) != 0) return Done::error(errno);
    return {};
}

} // namespace real

} // namespace qor
