#include "real_host.h"

#include "build.h"
#include "framing.h"
#include "instance.h"
#include "site.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace qlink {

namespace {

// A port that takes no byte for this long is treated as gone: a record
// must not wait behind a stuck line for ever.
constexpr std::chrono::milliseconds write_budget(2000);

} // namespace

bool RealHost::open_port(const Port& port, std::string& error) {
    close_port();
    // Never let the line become our controlling terminal: a hang-up on it
    // must not end the daemon.
    int flags = O_RDWR | O_NOCTTY | O_CLOEXEC;
    if (port.nonblocking) flags |= O_NONBLOCK;
    fd_ = ::open(qor::site_path(port.device).c_str(), flags);
    if (fd_ < 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

int RealHost::configure(const Port& port, bool verbose) {
    return set_com(fd_, verbose, port.baud_file);
}

std::optional<std::string> RealHost::read_port(std::size_t max, std::string& error) {
    if (fd_ < 0) {
        error = "port not open";
        return std::nullopt;
    }
    std::string buf(max, '\0');
    ssize_t n = ::read(fd_, buf.data(), max);
    if (n > 0) {
        buf.resize(static_cast<std::size_t>(n));
        return buf;
    }
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return std::string();
        error = std::strerror(errno);
        return std::nullopt;
    }
    // With VMIN 0 an empty read is silence, but a line that was hung up
    // (adapter unplugged, far end gone) reads empty too: poll tells them apart.
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        error = "line hung up";
        return std::nullopt;
    }
    return std::string();
}

bool RealHost::write_port(std::string_view bytes, std::string& error) {
    if (fd_ < 0) {
        error = "port not open";
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + write_budget;
    while (!bytes.empty()) {
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            error = std::strerror(errno);
            return false;
        }
        // The output queue is full (non-blocking port): wait for room.
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            error = "line takes no output";
            return false;
        }
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(left.count()));
    }
    return true;
}

void RealHost::flush_port() {
    if (fd_ >= 0) tcflush(fd_, TCIOFLUSH);
}

void RealHost::close_port() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void RealHost::end_other_instances(std::span<const char* const> names) {
    qlink::end_other_instances(names);
}

} // namespace qlink
