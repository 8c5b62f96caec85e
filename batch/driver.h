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
#include <set>
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
// Seconds the first line waits for a status line newer than this run.
inline constexpr int fresh_status_limit = 60;

// What a poll of the mailbox, while a command waits for its reply, leads to:
// polls counted since the posting (or the last answer of the operator),
// flag as sendpc got it, posted the command's slot, and the counters as read
// (nothing when they did not read as counters).
enum class PollAction {
    wait,         // nothing new: poll again
    read_replies, // the reply ring holds an unread entry
    post_again,   // the command ring was set back before the daemon took the command
    check_motion, // the wait is over, unless the telescope still moves (a first frame's move)
    ask,          // the wait is over: the operator decides
};
PollAction next_poll(int polls, int flag, char posted, std::optional<qor::Counter> ss,
                     std::optional<qor::Counter> pp);
// A reply whose sixth character is 'e' (after its 9-character stamp) says
// the command failed.
bool reply_failed(std::string_view reply);

// The daemon's stamp at the start of a reply slot ("hh:mm:ss_"), in
// seconds of the day; nothing when the slot holds no stamped reply.
std::optional<int> reply_stamp(std::string_view slot);

// Local time as the driver reads the asctime text: the epoch of date in
// years rounded to a tenth, and the seconds of the day.
float epoch_of_date(std::string_view asctime);
int seconds_of_day(std::string_view asctime);
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
    // Works the line at index (which moves with it when the observer edits
    // the file meanwhile).
    Step work_line(std::size_t& index);
    qor::Done rewrite();
    void write2log(std::string_view text);

    // Mailbox client.
    Step sendpc(const std::string& command, int flag);
    std::string getvar2(std::string_view group, std::string_view name);
    Step checkiflinkpc();
    // Waits for a status line newer than this run, once.
    Step wait_fresh_status();

    // Exposure cycle.
    int jrd();
    Step producexpdat(const BatchLine& line, int& obsnum, int& seconds);
    Step exposure(const BatchLine& line);

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

    // The mailbox as this run last left it, and what it says when the
    // counters disagree with that.
    void check_ss(const qor::Counter& read);
    void check_pp(const qor::Counter& read);
    void say_link(const std::string& command, std::string& said);
    struct Posting {
        double at;       // monotonic
        double earliest; // the earliest wall-clock reading of that moment seen
        void see(qor::System& sys);
    };
    qor::Counter counter_to_post_on();
    std::optional<std::string> answer_to(const qor::Counter& pp, Posting& posting,
                                         std::set<std::string>& said);

    Step read_obsnum(std::string& text);
    // exp.dat; returns the status line it was written from.
    std::string write_expdat(const BatchLine& line, const std::string& number);
    void renumber(const BatchLine& line, int& obsnum);

    // The batch file on disk: the observer may edit it during the night.
    struct Edited {
        BatchStore store;
        std::string text;
    };
    std::optional<Edited> edited_file();
    void adopt(Edited edited, std::size_t next);
    void follow_edits(std::size_t& index);
    void mark_worked(std::size_t& index, const std::string& original, const std::string& worked);
    Step save_marks();
    void note_interrupted_line();

    const Build& build_;
    qor::System& sys_;
    qor::Mailbox mailbox_;

    std::optional<qor::Counter> ss_written_;
    bool ss_odd_said_ = false;
    bool pp_odd_said_ = false;
    bool status_fresh_ = false;

    int line_number_ = 0; // the line being worked, from 1
    int frame_of_line_ = 0;
    int frames_of_line_ = 0;
    FilterFrames filter_; // of the line being worked
    Pointing pointing_;   // of the frame being taken
    std::string observers_;
    std::string status_; // the status line exp.dat of this frame was written from

    void note(std::string_view kind, std::string_view text);
    void warn(const std::string& text);
    void write_record(const BatchLine& line, int obsnum, const std::string& status);

    std::string known_text_; // the batch file as last read or written
    struct Done {
        std::size_t index;
        std::string original; // the line as it stood before it was worked
        std::string worked;   // and as it was worked (trimmed)
    };
    std::optional<Done> last_done_;
    std::vector<Done> unsaved_; // marked here, not yet on disk
    bool marks_said_ = false;   // the run was told which marks are missing
};

} // namespace qobs

namespace qobs {
// main of every build: the real world, the build's row.
int main_of(const Build& build, int argc, char** argv);
} // namespace qobs
