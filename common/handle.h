// Owners of an open descriptor and of an open stream. Each closes what it
// holds exactly once: on every way out of the scope that opened it, and
// never again after a move handed it on. Code that must know whether the
// close itself failed (a write error can show only there) calls close().
#pragma once

#include <cstdio>
#include <string>
#include <unistd.h>
#include <utility>

namespace qor {

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Hands the descriptor to the caller, who then closes it.
    int release() { return std::exchange(fd_, -1); }

    // Closes what is held (its result unseen) and holds fd instead.
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

    // Closes now; false when nothing was held or close failed (errno says
    // why). Not retried on EINTR: Linux has released the descriptor then.
    bool close() {
        if (fd_ < 0) return false;
        return ::close(release()) == 0;
    }

  private:
    int fd_ = -1;
};

class File {
  public:
    File() = default;
    explicit File(std::FILE* f) : f_(f) {}
    File(File&& other) noexcept : f_(other.release()) {}
    File& operator=(File&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() { reset(); }

    std::FILE* get() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }

    std::FILE* release() { return std::exchange(f_, nullptr); }

    void reset(std::FILE* f = nullptr) {
        if (f_ != nullptr) std::fclose(f_);
        f_ = f;
    }

    // Flushes and closes now; false when nothing was held or the flush or
    // close failed (errno says why).
    bool close() {
        if (f_ == nullptr) return false;
        return std::fclose(release()) == 0;
    }

  private:
    std::FILE* f_ = nullptr;
};

// fopen's result, owned. Empty when the file cannot be opened (errno says why).
inline File open_file(const char* path, const char* mode) {
    return File(std::fopen(path, mode));
}

inline File open_file(const std::string& path, const char* mode) {
    return open_file(path.c_str(), mode);
}

} // namespace qor
