// The batch driver: works through a batch file line by line and frame by
// frame, talking to the telescope only through the mailbox and to the
// camera through fff and the frame files. Every contact with the world goes
// through qor::System, so tests run a whole night on a clock that moves only
// when the driver sleeps.
#pragma once

#include "build.h"
#include "line.h"
#include "ring.h"
#include "store.h"
#include "system.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qobs {

// An error stop on its way to main: the text to print and the exit status
// (0, as for every stop of the driver).
struct Stop {
    std::string message;
    int status = 0;
};
// Nothing: go on.
using Step = std::optional<Stop>;

// Time limits of the programs the driver waits for. The key tools have the
// default of common/run (QOR_TIME_LIMIT); these do more work.
inline constexpr double fff_limit = 30;       // sets the camera up before it returns
inline constexpr double newimage0_limit = 60; // processes a whole frame
inline constexpr double jdstamp_limit = 10;
// How often fff is tried when the camera refuses to start an exposure (it
// may still be finishing the last one).
inline constexpr int fff_tries = 10;

// Local time as the driver reads the asctime text: the epoch of date in
// years rounded to a tenth, and the seconds of the day.
float epoch_of_date(std::string_view asctime);
int seconds_of_day(std::string_view asctime);
// The telescope computer's clock at the start of a status line, in seconds
// of the day; nothing when the line does not begin with hh:mm:ss.
std::optional<int> telescope_seconds(std::string_view status_line);
// |local - remote| with the day wrapped: 86000 s apart reads 400.
int clock_difference(int local, int remote);

class Driver {
  public:
    Driver(const Build& build, qor::System& system)
        : build_(build), sys_(system), mailbox_(system) {}

    // The whole program: returns its exit status.
    int main(const std::vector<std::string>& args);
    Step run(const std::vector<std::string>& args);

    // Start-up checks: qor2pc, observers, RUN_NUMBER, FILTER, the run log.
    Step checkfilexist();
    // The batch file: loading, the begin number, one line, the rewrite.
    Step load(const std::string& path);
    std::size_t begin_number();
    Step work_line(std::size_t index);
    bool rewrite();
    void write2log(std::string_view text);

    // Mailbox client.
    Step sendpc(const std::string& command, int flag);
    std::string getvar2(std::string_view group, std::string_view name);
    Step checkiflinkpc();

    // Exposure cycle.
    int jrd();
    Step producexpdat(std::string_view line, int& obsnum, int& seconds);
    Step exposure(std::string_view line);

    // Process-wide state of the driver.
    float a_ep = 0;
    float a_ra = 0, a_dec = 0;
    std::string v1; // status line at start-up
    std::optional<int> clock_diff;
    int nsc = 0, nsr = 0;
    FilterTable filters;
    std::string batch_path;
    BatchStore store;

  private:
    enum class Answer { wait, quit, redo, ignore };
    Answer ask_operator();
    bool still_moving();
    void startup_clock();
    void start_daemon();

    const Build& build_;
    qor::System& sys_;
    qor::Mailbox mailbox_;
};

} // namespace qobs

namespace qobs {
// main of every build: the real world, the build's row.
int main_of(const Build& build, int argc, char** argv);
} // namespace qobs
