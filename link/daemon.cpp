#include "daemon.h"

#include "clock.h"
#include "framing.h"
#include "real_host.h"
#include "site.h"
#include "text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

namespace qlink {

namespace {

const std::string attention("`\0", 2);

void bump(int& counter) {
    if (counter < INT_MAX) ++counter;
}

} // namespace

int Daemon::start(const std::vector<std::string>& args) {
    if (args.size() > 1) {
        host_.print(build_.banner);
        host_.print(build_.usage);
        mode_ = qor::read_int(args[1]).value_or(0);
    }
    if (!build_.port.chmod_each_open) chmod_port();
    host_.end_other_instances(build_.instances);
    test_counter_ = 0;
    std::string error;
    switch (open_port(true, error)) {
    case Opened::ok:
        break;
    case Opened::no_device:
        host_.print("uart open err: " + error + "\n");
        link_state("link daemon ended: uart open err: " + error);
        return -1;
    case Opened::no_setup:
        host_.print("set_com failed!\n");
        link_state("link daemon ended: set_com failed");
        return -1;
    }
    link_state("serial line up");
    if (build_.attention_at_start) write(attention);
    job.read_obsnum();
    return 0;
}

void Daemon::chmod_port() {
    host_.run({"sudo", "chmod", build_.port.chmod_mode, qor::site_path(build_.port.device)});
}

Daemon::Opened Daemon::open_port(bool verbose, std::string& error) {
    if (build_.port.chmod_each_open) chmod_port();
    if (!host_.open_port(build_.port, error)) return Opened::no_device;
    if (build_.port.flush_on_open) host_.flush_port();
    if (host_.configure(build_.port, verbose) != 0) return Opened::no_setup;
    return Opened::ok;
}

// Every open after start-up. A device that is not there (unplugged, being
// replaced) is waited for, with the record that was to go out kept; a
// device that is there but cannot be set up ends the daemon as at start-up.
void Daemon::retry_lost_port() {
    std::string error;
    switch (open_port(false, error)) {
    case Opened::ok:
        if (lost_) host_.print("serial line back\n");
        lost_ = false;
        link_state("serial line up");
        return;
    case Opened::no_device:
        if (!lost_) {
            host_.print("uart open err: " + error + "\n");
            lost_since("uart open err: " + error);
        }
        lost_ = true;
        return;
    case Opened::no_setup:
        host_.print("set_com failed!\n");
        fail();
        return;
    }
}

void Daemon::reopen_for_command() {
    host_.flush_port();
    host_.close_port();
    retry_lost_port();
}

void Daemon::lose(const std::string& why) {
    if (!lost_) {
        host_.print("serial line lost: " + why + "\n");
        lost_since(why);
    }
    lost_ = true;
    host_.close_port();
}

void Daemon::lost_since(const std::string& why) {
    std::time_t t = static_cast<std::time_t>(std::floor(host_.now()));
    link_state("serial line lost at " + qor::clock_text(t) + " (" + why +
               "): nothing reaches the telescope until it is back");
}

// One line for the driver and the observers: whether what the driver posts
// can reach the telescope at all. Written only when it changes.
void Daemon::link_state(const std::string& text) {
    if (text == link_state_) return;
    link_state_ = text;
    host_.replace_file(qor::site_path("/u/tarnu/status/link.txt"), text + "\n");
}

void Daemon::write(const std::string& bytes) {
    std::string error;
    if (!host_.write_port(bytes, error)) lose(error);
}

int Daemon::run() {
    while (cycle()) {
    }
    return exit_status_;
}

// One look at the line a second: the sleep makes up the rest of the second
// after the last look, so the time the tools take does not stretch the
// rhythm, and a cycle that ran long is followed at once.
// The rhythm is kept on the monotonic clock; a wall clock stepped meanwhile
// is said once per step, since the reply stamps and the time answers follow it.
void Daemon::pace() {
    double wait = 1;
    if (last_look_ >= 0) wait = std::clamp(1 - (host_.monotonic() - last_look_), 0.0, 1.0);
    host_.sleep(wait);
    double now = host_.monotonic();
    double offset = host_.now() - now;
    if (last_look_ >= 0) {
        longest_cycle_ = std::max(longest_cycle_, now - last_look_);
        if (std::fabs(offset - clock_offset_) > 2) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "host clock stepped by %+.0f s\n", offset - clock_offset_);
            host_.print(buf);
        }
    }
    clock_offset_ = offset;
    last_look_ = now;
}

bool Daemon::cycle() {
    pace();
    if (++phase_ > 2) phase_ = 0;
    if (lost_) retry_lost_port();
    if (running_ && !lost_ && phase_ == 1) send_phase();
    if (!running_) return false;
    if (lost_) return true;

    std::string error;
    auto text = host_.read_port(255, error);
    if (!text) {
        lose(error);
        return true;
    }
    if (text->empty()) return true;
    if (text->starts_with("TI") && build_.restart != Restart::none) {
        restart();
        if (build_.restart == Restart::in_process) return running_;
    }
    receive(std::move(*text));
    // The successor ends this process; do not wait for it with a closed port.
    if (handed_over_) running_ = false;
    return running_;
}

void Daemon::send_phase() {
    send_buf_.clear();
    if (!unsent_.empty()) {
        // What the line lost goes out before anything new is taken.
        send_buf_ = std::move(unsent_);
        unsent_.clear();
    } else if (dome.startdome == 1 || dome.stop_dome == 1) {
        // A dome request takes the whole send phase.
        if (dome.startdome != 0) {
            if (mode_ != 0) host_.print("StartDome\n");
            send_buf_ = "&";
            bump(dome.startdome);
        }
        if (dome.stop_dome != 0) {
            if (mode_ != 0) host_.print("Stop_Dome\n");
            send_buf_ = "$";
            bump(dome.stop_dome);
        }
    } else {
        if (build_.resend_file) {
            std::string isend = qor::tool_path("isend");
            if (auto content = host_.read_file(isend)) {
                send_buf_ = std::string(c_text(first_line(*content, 254)));
                host_.print("I send again: " + send_buf_ + "\n");
                host_.remove_file(isend);
            }
        }
        if (resend_due_) {
            send_buf_ = mailbox.send_again();
            resend_due_ = false;
        }
        mailbox.whatsend(send_buf_);
        test_traffic();
    }
    // A real command goes out on a freshly opened port; polls and dome
    // requests do not need it.
    if (send_buf_.size() > 3 && build_.reopen_before_command) reopen_for_command();
    if (!running_) return;
    if (!lost_) write(frame(send_buf_));
    if (lost_ && !send_buf_.empty()) unsent_ = send_buf_;
}

void Daemon::test_traffic() {
    auto send_test = [&](std::string text, bool keep) {
        send_buf_ = std::move(text);
        if (keep) mailbox.resend_later(send_buf_);
        host_.print("S: " + send_buf_ + "\n");
    };
    char buf[64];
    switch (build_.test) {
    case TestTraffic::none:
        return;
    case TestTraffic::mode3_move:
    case TestTraffic::mode3_move_filt:
        if (mode_ != 3) return;
        test_counter_ = (test_counter_ + 1) % 8;
        if (test_counter_ == 2) {
            std::snprintf(buf, sizeof buf, "movv 12:34:%02d.2 25:00:00\n", test_seconds_);
            if (++test_seconds_ >= 60) test_seconds_ = 0;
            send_test(buf, true);
        } else if (test_counter_ == 6 && build_.test == TestTraffic::mode3_move_filt) {
            if (++test_seconds_ >= 60) test_seconds_ = 0;
            send_test("filt x\n", true);
        }
        return;
    case TestTraffic::always_move:
        test_counter_ = (test_counter_ + 1) % 8;
        if (test_counter_ == 2) {
            std::snprintf(buf, sizeof buf, "move 12:34:%02d 12:13:14\n", test_seconds_);
            bump(test_seconds_);
            send_test(buf, false);
        }
        return;
    }
}

void Daemon::restart() {
    host_.print("I reboot telelink!!\n");
    std::time_t t = static_cast<std::time_t>(std::floor(host_.now()));
    std::string line = std::to_string(restarts_) + " " + qor::asctime_text(t);
    std::string boot_log = qor::site_path("/u/tarnu/qorlib/boot.log");
    if (build_.restart == Restart::in_process) {
        host_.append_file(boot_log, line);
        bump(restarts_);
        host_.close_port();
        host_.sleep(3);
        resend_due_ = true;
        retry_lost_port();
        job.read_obsnum();
        return;
    }
    write(attention);
    host_.append_file(boot_log, line);
    bump(restarts_);
    write(attention);
    host_.close_port();
    host_.sleep(9);
    if (build_.resend_file) host_.replace_file(qor::tool_path("isend"), mailbox.send_again());
    hand_over();
}

// The successor ends this process at its start. Only a successor that
// really started may take the line; otherwise this instance keeps it (and
// resends from the isend file itself).
void Daemon::hand_over() {
    std::string self = qor::tool_path(build_.successor);
    std::string why;
    if (mode_ == 3) {
        // In the foreground: it returns only when the successor did not take over.
        int status = host_.run({self, "3"}, qor::no_time_limit);
        why = status == 127 ? "cannot be started" : "ended with status " + std::to_string(status);
    } else if (host_.background({self})) {
        handed_over_ = true;
        return;
    } else {
        why = std::strerror(errno);
    }
    host_.print("no successor (" + self + ": " + why + "), this instance keeps the line\n");
    retry_lost_port();
}

void Daemon::getime() {
    std::time_t t = static_cast<std::time_t>(std::floor(host_.now()));
    stamp_ = qor::clock_text(t) + "_";
}

std::string Daemon::getclock() {
    // Sleep to the next second boundary instead of watching the clock spin:
    // the far end gets the new second as soon as it has begun. Never longer
    // than a second, whatever the clock does meanwhile.
    double now = host_.now();
    double target = std::floor(now) + 1;
    host_.sleep(std::clamp(target - now, 0.0, 1.0));
    double after = host_.now();
    std::time_t t = static_cast<std::time_t>(std::floor(after));
    // Woken a hair early: the answer is still the new second. A clock that
    // was stepped meanwhile is answered as it now stands.
    if (after < target && target - after < 0.5) t = static_cast<std::time_t>(target);
    return time_answer(t);
}

void Daemon::receive(std::string text) {
    substitute(text);
    split69(text);
    if (in_length_window(text.size())) return;
    if (text[0] == mark) {
        if (checkv1(text) == 0) publish(text);
        return;
    }
    getime();
    host_.print("R: " + std::string(c_text(stamp_)) + std::string(22, ' ') +
                std::string(c_text(text)));
    if (text.starts_with("ti")) {
        write(getclock());
    } else {
        mailbox.post_reply(stamp_, text);
    }
}

void Daemon::publish(const std::string& record) {
    std::string line = status.publish(record, mode_ != 0);
    getime();
    int now = (stamp_[0] - '0') * 36000 + (stamp_[1] - '0') * 3600 + (stamp_[3] - '0') * 600 +
              (stamp_[4] - '0') * 60 + (stamp_[6] - '0') * 10 + (stamp_[7] - '0');
    bool known = false;
    std::string phase = status.getexpo(now, job.expt(), job.rect(), known);
    if (mode_ == 2 || (build_.job_line_above_1 && mode_ > 1))
        host_.print(phase + "  job: " + std::to_string(job_number(job.phase())) + "\n");
    status.write_status_file(line, phase);
    if (known) job.track(phase, status.v1, status.expo);
}

int daemon_main(const Build& build, int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    try {
        RealHost host;
        Daemon daemon(build, host);
        if (daemon.start(std::vector<std::string>(argv, argv + argc)) != 0) return -1;
        return daemon.run();
    } catch (const std::exception& e) {
        std::printf("%s: %s\n", build.name, e.what());
        return -1;
    }
}

} // namespace qlink
