// The link daemon: owns the serial line to the telescope control computer.
// Once a second it looks at the line; every third second it sends one
// record (a dome request, a resend, a command from the mailbox, or a bare
// poll); what arrives is a time request (answered), a status record
// (published, and followed for the camera's job state) or a reply (posted
// into the mailbox).
#pragma once

#include "build.h"
#include "forward.h"
#include "job.h"
#include "publish.h"
#include "seam.h"

#include <string>
#include <vector>

namespace qlink {

class Daemon {
  public:
    Daemon(const Build& build, Host& host)
        : mailbox(host, build.keep_send_again), status(host), job(host, dome), build_(build),
          host_(host) {}

    // Command line, single-instance step, port, attention bytes, obsnum.
    // 0 to go on; -1 when the port cannot be opened or set up.
    int start(const std::vector<std::string>& args);

    // One second of the cycle. False once the daemon is to end; the exit
    // status is then in exit_status().
    bool cycle();

    // Cycles until the end.
    int run();

    int exit_status() const { return exit_status_; }
    int mode() const { return mode_; }
    // The longest time between two looks at the line so far, in seconds.
    double longest_cycle() const { return longest_cycle_; }
    // The device is gone and the daemon waits for it to come back.
    bool port_lost() const { return lost_; }

    // The pieces of the cycle, reachable for tests.
    void send_phase();
    void receive(std::string text);
    void publish(const std::string& record);
    std::string getclock();

    Forwarder mailbox;
    Dome dome;
    Publisher status;
    JobTracker job;

  private:
    enum class Opened { ok, no_device, no_setup };
    Opened open_port(bool verbose, std::string& error);
    void chmod_port();
    void reopen_for_command();
    void retry_lost_port();
    void lose(const std::string& why);
    void lost_since(const std::string& why);
    void write(const std::string& bytes);
    void pace();
    void test_traffic();
    void restart();
    void hand_over();
    void getime();
    void fail() {
        running_ = false;
        exit_status_ = -1;
        link_state("link daemon ended: set_com failed");
    }
    void link_state(const std::string& text);

    const Build& build_;
    Host& host_;
    int mode_ = 0;
    int phase_ = 3;
    int test_counter_ = 0;
    int test_seconds_ = 0; // seconds field of the next test move
    int restarts_ = 0; // restart requests seen by this process
    std::string send_buf_;
    std::string stamp_ = std::string(8, '\0') + "_"; // hh:mm:ss_ of the last text received
    std::string unsent_; // a record the line lost, sent first once it is back
    bool lost_ = false;
    bool running_ = true;
    bool handed_over_ = false;
    bool resend_due_ = false; // after an in-process restart
    int exit_status_ = 0;
    double last_look_ = -1;  // monotonic
    double clock_offset_ = 0; // wall clock minus monotonic at the last look
    double longest_cycle_ = 0;
    std::string link_state_;
};

// main of every build: the program for its row of the table.
int daemon_main(const Build& build, int argc, char** argv);

} // namespace qlink
