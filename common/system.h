// The one seam between a program of the system and the world around it:
// the clock, the programs it runs, its console and the files it writes.
// The real system does what it says; tests put a clock that moves only when
// told, recorded programs, scripted answers at the console and files that
// can be made to fail (tests/support/fake_system.h).
//
// Programs that own more of the world extend the interface (the link
// daemon's serial port); RealSystemOf<Base> gives any such interface the
// real clock, programs, console and files.
#pragma once

#include "files.h"
#include "run.h"

#include <optional>
#include <string>
#include <string_view>

namespace qor {

class System {
  public:
    virtual ~System() = default;

    // Clock: seconds since the epoch, with fraction, and a pause. The
    // monotonic clock never steps; against it a program sees the wall clock
    // stepped (by hand, or by time synchronisation) and can say so.
    virtual double now() = 0;
    virtual double monotonic() = 0;
    virtual void sleep(double seconds) = 0;

    // Programs, each ended at the time limit of run.h.
    virtual int run(const Argv& argv, double limit_seconds = default_time_limit()) = 0;
    virtual Captured capture(const Argv& argv, std::size_t max_bytes,
                             double limit_seconds = default_time_limit()) = 0;
    // log: where its output goes (appended), else our own standard output.
    virtual bool background(const Argv& argv, const std::string& log = {}) = 0;

    // Console: standard output, and one line of standard input (at most
    // max_chars of it, the rest of the line discarded, without its line
    // end); nothing at the end of input.
    virtual void print(std::string_view text) = 0;
    virtual std::optional<std::string> read_line(std::size_t max_chars) = 0;

    // Files, with the guarantees of files.h.
    virtual std::optional<std::string> read_file(const std::string& path) = 0;
    virtual bool replace_file(const std::string& path, std::string_view content) = 0;
    virtual bool append_file(const std::string& path, std::string_view content) = 0;
    virtual bool remove_file(const std::string& path) = 0;
};

// The real clock, console and programs, for the real System and for any
// interface built on it.
namespace real {
double now();
double monotonic();
void sleep(double seconds);
void print(std::string_view text);
std::optional<std::string> read_line(std::size_t max_chars);
bool remove_file(const std::string& path);
} // namespace real

template <class Base = System> class RealSystemOf : public Base {
  public:
    double now() override { return real::now(); }
    double monotonic() override { return real::monotonic(); }
    void sleep(double seconds) override { real::sleep(seconds); }
    int run(const Argv& argv, double limit_seconds = default_time_limit()) override {
        return qor::run(argv, limit_seconds);
    }
    Captured capture(const Argv& argv, std::size_t max_bytes,
                     double limit_seconds = default_time_limit()) override {
        return qor::run_capture(argv, max_bytes, limit_seconds);
    }
    bool background(const Argv& argv, const std::string& log = {}) override {
        return qor::run_background(argv, log);
    }
    void print(std::string_view text) override { real::print(text); }
    std::optional<std::string> read_line(std::size_t max_chars) override {
        return real::read_line(max_chars);
    }
    std::optional<std::string> read_file(const std::string& path) override {
        return qor::read_file(path);
    }
    bool replace_file(const std::string& path, std::string_view content) override {
        return qor::replace_file(path, content);
    }
    bool append_file(const std::string& path, std::string_view content) override {
        return qor::append_file(path, content);
    }
    bool remove_file(const std::string& path) override { return real::remove_file(path); }
};

using RealSystem = RealSystemOf<System>;

} // namespace qor
