// The link daemon: owns the serial line to the telescope control computer,
// forwards the mailbox commands, answers time requests, publishes status
// records and follows the camera's exposure state.
#pragma once

#include "build.h"
#include "seam.h"
#include "status.h"

#include <string>
#include <vector>

namespace qlink {

class Daemon {
  public:
    Daemon(const Build& build, Host& host) : build_(build), host_(host) {}

    // Command line, single-instance step, port, attention bytes, obsnum.
    // 0 to go on; -1 when the port cannot be opened or set up.
    int start(const std::vector<std::string>& args);

    // One second of the cycle. False once the daemon is to end; the exit
    // status is then in exit_status().
    bool cycle();

    // Cycles until the end.
    int run();

    int exit_status() const { return exit_status_; }

    // The pieces of the cycle, reachable for tests.
    void send_phase();
    void receive(std::string text);
    void whatsend();
    void post_reply(const std::string& reply);
    void publish(const std::string& record);
    std::string getexpo(int now);
    void track_job(const std::string& phase);
    void checkname();
    void getime();
    void getclock();

    // Process-wide state, as the cycle leaves it.
    int mode = 0;
    int phase = 3;
    int test_counter = 0;
    int kk = 0;
    int startdome = 0;
    int stop_dome = 0;
    int tit = 0;
    int obsnum = -1;
    std::string send_again;
    std::string send_buf;
    std::string jtime = std::string(8, '\0') + "_";
    char ss[2] = {0, 0};
    char pp[2] = {0, 0};
    std::string v1;
    Expo expo;
    int ontime = 0;
    int expt = 0;
    float rect = 0;
    int job = 0;
    int prev_job = 0;
    int filter = 0;
    int rows = 0;
    int cols = 0;

  private:
    bool open_port(bool verbose, bool reopen);
    void test_traffic();
    void restart();
    void fail() {
        running_ = false;
        exit_status_ = -1;
    }
    std::string tool(const char* name) const;
    std::string read_tool(std::initializer_list<const char*> words, std::size_t max);
    std::optional<int> tool_int(const char* group, const char* name);

    const Build& build_;
    Host& host_;
    bool running_ = true;
    bool handed_over_ = false;
    bool resend_due_ = false; // after an in-process restart
    int exit_status_ = 0;
};

} // namespace qlink
