// A throw-away simulated observing site for integration tests.
//
//   #include "temp_site.h"
//   TEST(Night, Something) {
//       qor::test::TempSite site;                 // made with scripts/make-site
//       ASSERT_TRUE(site.ok()) << site.error();
//       site.set_key("setups.qor.ss.value", "00");
//       auto r = site.capture({site.tool("keyshow"), "ss"});
//       EXPECT_EQ(r.out, "00\n");
//       pid_t d = site.start({site.tool("telelink")});   // ended by the destructor
//   }
//
// The constructor makes the site in a new temporary directory from the
// current build (the source and binary directories are compiled in), and
// points QOR_ROOT and PATH (DIR/bin first) of the test process at it, so
// every program the test runs, and every qor::site_path() in the test
// itself, resolves into the site. The destructor ends every process that
// runs with this site's QOR_ROOT (started by the test or by the programs it
// ran, detached ones included), restores QOR_ROOT and PATH and removes the
// directory. One TempSite at a time per test process.
//
// Link the target `qortestsupport` and add a dependency on the target
// `qorsite` so that the programs the site installs are built first.
#pragma once

#include "run.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace qor::test {

struct SiteOptions {
    // Side of the image part of the frames the simulated camera writes; the
    // real camera's 4096 makes 33 MB frames, too slow for routine tests.
    int frame_side = 512;
    // Seconds the simulated camera spends reading out a frame.
    int readout_seconds = 1;
};

class TempSite {
  public:
    TempSite();
    explicit TempSite(const SiteOptions& options);
    ~TempSite();
    TempSite(const TempSite&) = delete;
    TempSite& operator=(const TempSite&) = delete;

    // False when the site could not be made; error() tells why.
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

    // The site root (the value of QOR_ROOT).
    const std::string& root() const { return root_; }
    // A fixed absolute path of the system inside the site: path("/data/d1.ccd").
    std::string path(std::string_view absolute) const;
    // A file or program of the tools directory: tool("keyset").
    std::string tool(std::string_view name) const;

    // Camera database keys, read and written directly (no process started).
    std::optional<std::string> key(std::string_view name) const;
    void set_key(std::string_view name, std::string_view value) const;

    // The lines a logging stand-in (beep, sudo, newimage0, ...) was called with:
    // its name and arguments, one call a line.
    std::vector<std::string> log_lines(std::string_view stand_in) const;

    // Puts the logging stand-in in place of a program of the site, so that a
    // test sees each call: log_calls_to(tool("ccdpeek")), then
    // log_lines("ccdpeek"). False when it could not be copied.
    bool log_calls_to(const std::string& program_path) const;

    // Running programs inside the site, as argument vectors.
    // Runs a program of the site to its end. The program under test gets a
    // generous limit of its own: a sanitizer build on a loaded machine is
    // many times slower than the night's, and ctest bounds every test anyway.
    static constexpr double test_limit = 120;
    int run(const Argv& argv, double limit = test_limit) const { return qor::run(argv, limit); }
    Captured capture(const Argv& argv, std::size_t max_bytes = 65536,
                     double limit = test_limit) const {
        return qor::run_capture(argv, max_bytes, limit);
    }
    // Starts a program in the background (stdin from /dev/null, stdout and
    // stderr to the given file, or inherited when empty); ended by stop_all().
    pid_t start(const Argv& argv, const std::string& output_file = "");

    // Ends every process running with this site's QOR_ROOT: SIGTERM, then
    // SIGKILL for those still there after a second.
    void stop_all();

    // Polls every 50 ms until the condition holds; false after the timeout.
    static bool wait_for(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

  private:
    bool ok_ = false;
    std::string error_;
    std::string root_;
    std::optional<std::string> old_root_;
    std::optional<std::string> old_path_;
    std::vector<pid_t> children_;
};

} // namespace qor::test
