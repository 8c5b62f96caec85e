// The pseudo-terminal the host program takes for its serial port.
#pragma once

#include <string>

namespace qor::scope {

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& o) noexcept : fd_(o.release()) {}
    Fd& operator=(Fd&& o) noexcept;
    ~Fd();
    int get() const { return fd_; }
    int release() {
        int f = fd_;
        fd_ = -1;
        return f;
    }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_;
};

struct Pty {
    Fd master; // our end, non-blocking
    Fd slave;  // held open by us so that the host closing its port never hangs up the line
    std::string slave_name;
};

// A new pseudo-terminal in raw mode; false with a message on failure.
bool open_pty(Pty& pty, std::string& error);

// Opens the slave side again (after a hang-up was seen on the master).
bool reopen_slave(Pty& pty, std::string& error);

// Bytes written by us that the host has not read yet.
int unread_by_host(const Pty& pty);

// Points link at target, replacing whatever was there in one step.
bool make_link(const std::string& link, const std::string& target, std::string& error);

// Removes link if it still points at target.
void remove_link(const std::string& link, const std::string& target);

} // namespace qor::scope
