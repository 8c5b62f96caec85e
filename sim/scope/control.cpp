#include "control.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qor::scope {

std::string scope_dir(const std::string& root) {
    return root + "/var/scope";
}

bool send_control(const std::string& root, std::string_view line, std::string& error) {
    std::string path = scope_dir(root) + "/control";
    std::string text(line);
    if (text.find('\n') != std::string::npos) {
        error = "one request per line";
        return false;
    }
    text += '\n';
    if (text.size() > PIPE_BUF) {
        error = "request too long";
        return false;
    }
    // O_NONBLOCK: opening a FIFO nobody reads fails at once instead of hanging.
    int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + (errno == ENXIO ? "no simulator listening" : std::strerror(errno));
        return false;
    }
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
    if (!ok) {
        error = path + ": not a FIFO";
    } else if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        error = path + ": " + std::strerror(errno);
        ok = false;
    }
    ::close(fd);
    return ok;
}

} // namespace qor::scope
