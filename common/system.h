// The one seam between a program of the system and the world around it:
// the clock, the programs it runs, its console and its files. The real
// system does what it says; tests put a clock that moves only when told,
// recorded programs, scripted answers at the console and a file system in
// memory that logs what is done to it and fails where a test asks
// (tests/support/fake_system.h).
//
// Programs that own more of the world extend the interface (the link
// daemon's serial port); RealSystemOf<Base> gives any such interface the
// real clock, programs, console and files.
#pragma once

#include "run.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

// What a file operation did: nothing to report, or why it failed, in the
// system's words ("No space left on device"), for the message that says so.
class Done {
  public:
    Done() = default;
    static Done error(int err);
    static Done because(std::string why) {
        Done d;
        d.why_ = why.empty() ? "failed" : std::move(why);
        return d;
    }
    explicit operator bool() const { return why_.empty(); }
    const std::string& why() const { return why_; }

  private:
    std::string why_;
};

struct FileInfo {
    std::uint64_t size = 0;
    double modified = 0; // seconds since the epoch
    bool folder = false;
    bool link = false; // the name itself is a symbolic link (not followed)
    bool operator==(const FileInfo&) const = default;
};

// Whether a read follows a symbolic link at the end of the path.
enum class Links { follow, refuse };

inline constexpr std::size_t whole_file = std::numeric_limits<std::size_t>::max();

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

    // Files. A read gives at most max_bytes (the rest is not read), or
    // nothing when the file cannot be read. stat does not follow a link at
    // the end of the path. A folder's names come sorted.
    virtual std::optional<std::string> read_file(const std::string& path,
                                                 std::size_t max_bytes = whole_file,
                                                 Links links = Links::follow) = 0;
    virtual std::optional<FileInfo> stat(const std::string& path) = 0;
    virtual std::optional<std::vector<std::string>> list(const std::string& folder) = 0;
    virtual Done append_file(const std::string& path, std::string_view content) = 0;
    virtual Done remove_file(const std::string& path) = 0; // a file not there is done
    virtual Done rename_file(const std::string& from, const std::string& to) = 0;
    virtual Done make_folder(const std::string& path) = 0; // a folder there is done
    // The steps a whole-file replacement is made of: a new file beside
    // path (its name in temp) holding the content, on disk, with the mode
    // of the file it is to replace; and the folder's entries on disk.
    virtual Done write_temp(const std::string& path, std::string_view content,
                            std::string& temp) = 0;
    virtual Done sync_folder(const std::string& folder) = 0;

    // Replaces the file whole: the content goes to a temporary file beside
    // it, which is renamed over the old one, and the folder is synced, so a
    // reader or a crash sees the old file or the new one, never half of
    // either. On failure the old file is left as it was.
    Done replace_file(const std::string& path, std::string_view content);
    bool exists(const std::string& path) { return stat(path).has_value(); }
};

// The folder of a path ("." for a bare name).
std::string folder_of(const std::string& path);

// The real clock, console, programs and files, for the real System and for
// any interface built on it.
namespace real {
double now();
double monotonic();
void sleep(double seconds);
void print(std::string_view text);
std::optional<std::string> read_line(std::size_t max_chars);
std::optional<std::string> read_file(const std::string& path, std::size_t max_bytes, Links links);
std::optional<FileInfo> stat(const std::string& path);
std::optional<std::vector<std::string>> list(const std::string& folder);
Done append_file(const std::string& path, std::string_view content);
Done remove_file(const std::string& path);
Done rename_file(const std::string& from, const std::string& to);
Done make_folder(const std::string& path);
Done write_temp(const std::string& path, std::string_view content, std::string& temp);
Done sync_folder(const std::string& folder);
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
    std::optional<std::string> read_file(const std::string& path,
                                         std::size_t max_bytes = whole_file,
                                         Links links = Links::follow) override {
        return real::read_file(path, max_bytes, links);
    }
    std::optional<FileInfo> stat(const std::string& path) override { return real::stat(path); }
    std::optional<std::vector<std::string>> list(const std::string& folder) override {
        return real::list(folder);
    }
    Done append_file(const std::string& path, std::string_view content) override {
        return real::append_file(path, content);
    }
    Done remove_file(const std::string& path) override { return real::remove_file(path); }
    Done rename_file(const std::string& from, const std::string& to) override {
        return real::rename_file(from, to);
    }
    Done make_folder(const std::string& path) override { return real::make_folder(path); }
    Done write_temp(const std::string& path, std::string_view content,
                    std::string& temp) override {
        return real::write_temp(path, content, temp);
    }
    Done sync_folder(const std::string& folder) override { return real::sync_folder(folder); }
};

using RealSystem = RealSystemOf<System>;

} // namespace qor
