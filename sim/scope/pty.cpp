#include "pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace qor::scope {

Fd& Fd::operator=(Fd&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = o.release();
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

namespace {

std::string errtext(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Raw from the start, so that nothing is echoed back or translated before
// the host sets the port up its own way.
bool make_raw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetspeed(&t, B9600);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

} // namespace

bool open_pty(Pty& pty, std::string& error) {
    Fd master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!master) {
        error = errtext("posix_openpt");
        return false;
    }
    if (grantpt(master.get()) != 0 || unlockpt(master.get()) != 0) {
        error = errtext("unlockpt");
        return false;
    }
    char name[128];
    if (ptsname_r(master.get(), name, sizeof name) != 0) {
        error = errtext("ptsname");
        return false;
    }
    pty.master = std::move(master);
    pty.slave_name = name;
    if (!reopen_slave(pty, error)) return false;
    // The host account opens the port read-write.
    chmod(name, 0666);
    return true;
}

bool reopen_slave(Pty& pty, std::string& error) {
    Fd slave(::open(pty.slave_name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!slave) {
        error = errtext(pty.slave_name.c_str());
        return false;
    }
    if (!make_raw(slave.get())) {
        error = errtext("tcsetattr");
        return false;
    }
    pty.slave = std::move(slave);
    return true;
}

int unread_by_host(const Pty& pty) {
    int n = 0;
    if (!pty.slave || ioctl(pty.slave.get(), FIONREAD, &n) != 0) return 0;
    return n;
}

bool make_link(const std::string& link, const std::string& target, std::string& error) {
    std::string tmp = link + ".new." + std::to_string(getpid());
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), link.c_str()) != 0) {
        error = errtext(link.c_str());
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

void remove_link(const std::string& link, const std::string& target) {
    char buf[256];
    ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n < 0) return;
    buf[n] = '\0';
    if (target == buf) ::unlink(link.c_str());
}

} // namespace qor::scope
