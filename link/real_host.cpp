#include "real_host.h"

#include "build.h"
#include "framing.h"
#include "instance.h"
#include "site.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace qlink {

bool RealHost::open_port(const Build& build, std::string& error) {
    close_port();
    // Never let the line become our controlling terminal: a hang-up on it
    // must not end the daemon.
    int flags = O_RDWR | O_NOCTTY | O_CLOEXEC;
    if (build.nonblocking_open) flags |= O_NONBLOCK;
    fd_ = ::open(qor::site_path(build.device).c_str(), flags);
    if (fd_ < 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

int RealHost::configure(const Build& build, bool verbose) {
    return set_com(fd_, verbose, build.baud_file);
}

std::string RealHost::read_port(std::size_t max) {
    if (fd_ < 0) return {};
    std::string buf(max, '\0');
    ssize_t n = ::read(fd_, buf.data(), max);
    if (n <= 0) return {};
    buf.resize(static_cast<std::size_t>(n));
    return buf;
}

void RealHost::write_port(std::string_view bytes) {
    if (fd_ < 0) return;
    ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    (void)n; // the line gives no acknowledgement to act on
}

void RealHost::flush_port() {
    if (fd_ >= 0) tcflush(fd_, TCIOFLUSH);
}

void RealHost::close_port() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void RealHost::end_other_instances(const Build& build) {
    qlink::end_other_instances(build.instance_name);
}

} // namespace qlink
