#include "daemon.h"

#include "clock.h"
#include "coords.h"
#include "files.h"
#include "framing.h"
#include "ring.h"
#include "site.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace qlink {

namespace {

const std::string attention("`\0", 2);

bool starts_with(std::string_view text, std::string_view head) {
    return text.substr(0, head.size()) == head;
}

void bump(int& counter) {
    if (counter < INT_MAX) ++counter;
}

std::string format_int(const char* fmt, int value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

// The lines of a text file, each without its newline; nothing when absent.
std::vector<std::string> file_lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

} // namespace

std::string Daemon::tool(const char* name) const {
    return qor::tool_path(name);
}

std::string Daemon::read_tool(std::initializer_list<const char*> words, std::size_t max) {
    auto it = words.begin();
    qor::Argv argv{tool(*it)};
    for (++it; it != words.end(); ++it) argv.emplace_back(*it);
    return std::string(c_text(host_.capture(argv, max).out));
}

std::optional<int> Daemon::tool_int(const char* group, const char* name) {
    return read_int(read_tool({"varshow", group, name}, 80));
}

int Daemon::start(const std::vector<std::string>& args) {
    if (args.size() > 1) {
        host_.print(build_.banner);
        host_.print(build_.usage);
        mode = read_int(args[1]).value_or(0);
    }
    host_.end_other_instances(build_);
    test_counter = 0;
    job = prev_job = 0;
    if (!open_port(true, false)) return -1;
    if (build_.attention_at_start) host_.write_port(attention);
    if (auto n = tool_int("variables", "obsnum")) obsnum = *n;
    return 0;
}

bool Daemon::open_port(bool verbose, bool reopen) {
    if (reopen) {
        host_.flush_port();
        host_.close_port();
    }
    host_.run({"sudo", "chmod", build_.chmod_mode, qor::site_path(build_.device)});
    std::string error;
    if (!host_.open_port(build_, error)) {
        host_.print("uart open err: " + error + "\n");
        return false;
    }
    if (build_.flush_on_open) host_.flush_port();
    if (host_.configure(build_, verbose) != 0) {
        host_.print("set_com failed!\n");
        return false;
    }
    return true;
}

int Daemon::run() {
    while (cycle()) {
    }
    return exit_status_;
}

bool Daemon::cycle() {
    host_.sleep(1);
    if (++phase > 2) phase = 0;
    if (phase == 1) send_phase();
    if (!running_) return false;

    std::string text = host_.read_port(255);
    if (text.empty()) return true;
    if (starts_with(text, "TI") && build_.restart != Restart::none) {
        restart();
        if (build_.restart == Restart::in_process) return running_;
    }
    receive(std::move(text));
    // The successor ends this process; do not wait for it with a closed port.
    if (handed_over_) running_ = false;
    return running_;
}

void Daemon::send_phase() {
    send_buf.clear();
    if (startdome == 1 || stop_dome == 1) {
        // A dome request takes the whole send phase.
        if (startdome != 0) {
            if (mode != 0) host_.print("StartDome\n");
            send_buf = "&";
            bump(startdome);
        }
        if (stop_dome != 0) {
            if (mode != 0) host_.print("Stop_Dome\n");
            send_buf = "$";
            bump(stop_dome);
        }
    } else {
        if (build_.resend_file) {
            std::string isend = tool("isend");
            if (auto line = qor::read_first_line(isend, 254)) {
                send_buf = std::string(c_text(*line));
                host_.print("I send again: " + send_buf + "\n");
                std::error_code ec;
                std::filesystem::remove(isend, ec);
            }
        }
        if (resend_due_) {
            send_buf = send_again;
            resend_due_ = false;
        }
        whatsend();
        test_traffic();
    }
    // A real command goes out on a freshly opened port; polls and dome
    // requests do not need it.
    if (send_buf.size() > 3 && build_.reopen_before_command) {
        if (!open_port(false, true)) {
            fail();
            return;
        }
    }
    host_.write_port(frame(send_buf));
}

void Daemon::test_traffic() {
    auto send_test = [&](std::string text, bool keep) {
        send_buf = std::move(text);
        if (keep) send_again = send_buf;
        host_.print("S: " + send_buf + "\n");
    };
    char buf[64];
    switch (build_.test) {
    case TestTraffic::mode3_move:
    case TestTraffic::mode3_move_filt:
        if (mode != 3) return;
        test_counter = (test_counter + 1) % 8;
        if (test_counter == 2) {
            std::snprintf(buf, sizeof buf, "movv 12:34:%02d.2 25:00:00\n", kk);
            if (++kk >= 60) kk = 0;
            send_test(buf, true);
        } else if (test_counter == 6 && build_.test == TestTraffic::mode3_move_filt) {
            if (++kk >= 60) kk = 0;
            send_test("filt x\n", true);
        }
        return;
    case TestTraffic::always_move:
        test_counter = (test_counter + 1) % 8;
        if (test_counter == 2) {
            std::snprintf(buf, sizeof buf, "move 12:34:%02d 12:13:14\n", kk);
            bump(kk);
            send_test(buf, false);
        }
        return;
    }
}

void Daemon::restart() {
    host_.print("I reboot telelink!!\n");
    std::time_t t = static_cast<std::time_t>(std::floor(host_.now()));
    if (build_.restart == Restart::in_process) {
        qor::append_file(qor::site_path("/u/tarnu/qorlib/boot.log"),
                         format_int("%d ", tit) + qor::asctime_text(t));
        bump(tit);
        host_.close_port();
        host_.sleep(3);
        if (!open_port(false, false)) {
            fail();
            return;
        }
        if (auto n = tool_int("variables", "obsnum")) obsnum = *n;
        resend_due_ = true;
        return;
    }
    host_.write_port(attention);
    qor::append_file(qor::site_path("/u/tarnu/qorlib/boot.log"),
                     format_int("%d ", tit) + qor::asctime_text(t));
    bump(tit);
    host_.write_port(attention);
    host_.close_port();
    host_.sleep(9);
    if (build_.resend_file) qor::replace_file(tool("isend"), send_again);
    std::string self = tool(build_.instance_name);
    if (mode == 3)
        host_.run({self, "3"}, qor::no_time_limit);
    else
        host_.background({self});
    handed_over_ = true;
}

void Daemon::getime() {
    std::time_t t = static_cast<std::time_t>(std::floor(host_.now()));
    jtime = qor::clock_text(t) + "_";
}

void Daemon::getclock() {
    // Sleep to the next second boundary instead of watching the clock spin:
    // the far end gets the new second as soon as it has begun.
    double target = std::floor(host_.now()) + 1;
    for (int i = 0; i < 100; ++i) {
        double left = target - host_.now();
        if (left <= 0) break;
        host_.sleep(left);
    }
    std::time_t t = static_cast<std::time_t>(std::floor(host_.now()));
    if (t < static_cast<std::time_t>(target)) t = static_cast<std::time_t>(target);
    send_buf = time_answer(t);
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
    host_.print("R: " + std::string(c_text(jtime)) + std::string(22, ' ') +
                std::string(c_text(text)));
    if (starts_with(text, "ti")) {
        getclock();
        host_.write_port(send_buf);
    } else {
        post_reply(text);
    }
}

void Daemon::whatsend() {
    if (ss[0] == ss[1]) {
        std::string got = read_tool({"keyshow", "ss"}, 2);
        for (std::size_t i = 0; i < got.size() && i < 2; ++i) ss[i] = got[i];
    }
    if (ss[0] == ss[1]) {
        // Nothing posted: a one-shot command left by hand goes out instead.
        std::string xydw = tool("xydw");
        if (auto line = qor::read_first_line(xydw, 79)) {
            send_buf = std::string(c_text(*line));
            std::error_code ec;
            std::filesystem::remove(xydw, ec);
        }
        return;
    }
    ss[1] = qor::successor(ss[1]);
    const char slot[3] = {'s', ss[1], '\0'};
    std::string command = read_tool({"keyshow", slot}, 128);
    for (char& c : command)
        if (c == '_') c = ' ';
    if (starts_with(command, "mo")) {
        if (auto moved = rewrite_move(command)) {
            command = *moved;
            if (build_.keep_send_again) send_again = command;
            send_buf = command;
        } else {
            // Never point the telescope from coordinates we could not read.
            if (command.empty() || command.back() != '\n') command += '\n';
            host_.print("bad coordinates, not sent: " + command);
        }
    } else {
        send_buf = command;
    }
    std::string counters(ss, 2);
    host_.run({tool("keyset"), "ss", std::string(c_text(counters))});
}

void Daemon::post_reply(const std::string& reply) {
    host_.sleep(1);
    std::string got = read_tool({"keyshow", "pp"}, 2);
    for (std::size_t i = 0; i < got.size() && i < 2; ++i) pp[i] = got[i];
    pp[0] = qor::successor(pp[0]);
    // The same words the shell would make of "keyset p<n> <jtime><reply>":
    // a line end in the reply ends the word, and nothing in it is run.
    qor::Argv argv{tool("keyset")};
    for (auto& w : qor::command_words(std::string("p") + pp[0] + " " + std::string(c_text(jtime)) +
                                      std::string(c_text(reply))))
        argv.push_back(std::move(w));
    host_.run(argv);
    std::string counters(pp, 2);
    host_.run({tool("keyset"), "pp", std::string(c_text(counters))});
}

void Daemon::publish(const std::string& record) {
    std::string line(c_text(std::string_view(record).substr(1)));

    std::string log = qor::site_path("/u/tarnu/qorlib/kerade.dat");
    auto at = [&](std::size_t i) { return i < line.size() ? line[i] : '\0'; };
    int hour = (at(0) - '0') * 10 + (at(1) - '0');
    if (hour >= 17 && hour <= 30) {
        if (ontime == 0) {
            std::error_code ec;
            auto size = std::filesystem::file_size(log, ec);
            if (!ec && size / 1000 > 300) {
                std::filesystem::rename(log, qor::site_path("/u/tarnu/qorlib/kerade.old"), ec);
            }
            // What "date >> kerade.dat" would add.
            std::time_t t = static_cast<std::time_t>(std::floor(host_.now()));
            std::tm tm{};
            localtime_r(&t, &tm);
            char buf[80];
            std::strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Z %Y\n", &tm);
            qor::append_file(log, buf);
        }
        ontime = 1;
        qor::append_file(log, position_line(line));
    } else {
        ontime = 0;
    }

    if (mode != 0) host_.print(c_text(record));

    qor::Argv argv{tool("keyset"), "v1"};
    for (auto& w : qor::command_words(line)) argv.push_back(std::move(w));
    host_.run(argv);

    v1 = line.substr(0, 80);

    getime();
    int now = (jtime[0] - '0') * 36000 + (jtime[1] - '0') * 3600 + (jtime[3] - '0') * 600 +
              (jtime[4] - '0') * 60 + (jtime[6] - '0') * 10 + (jtime[7] - '0');
    std::string phase_now = getexpo(now);

    if (mode == 2 || (build_.job_line_above_1 && mode > 1))
        host_.print(phase_now + "  job: " + std::to_string(prev_job) + "\n");

    qor::replace_file(qor::site_path("/u/tarnu/status/telescope.txt"),
                      telescope_text(line, expo.tems, expo.vv, phase_now));
    track_job(phase_now);
}

std::string Daemon::getexpo(int now) {
    std::string out = host_.capture({tool("exp3")}, 99).out;
    return phase_text(out, now, expt, rect, expo);
}

void Daemon::track_job(const std::string& phase_now) {
    job = job_state(phase_now.size());
    // A request is raised once (counter 1) and stays raised until the send
    // phase takes it (counter 2): status records come faster than send
    // phases, and a request passed over would never reach the dome.
    if (job == 1 && expo.restime > 0 && expo.restime <= 24) {
        if (stop_dome == 0) stop_dome = 1;
        startdome = 0;
    }
    if (job == 2)
        rect += 3.1f;
    else
        rect = 0;
    if (job == 3) {
        stop_dome = 0;
        if (startdome == 0) startdome = 1;
    }
    if (job != prev_job) {
        if (v1.size() > 56) {
            if (auto f = read_int(std::string_view(v1).substr(56))) filter = *f > 9999 ? 0 : *f;
        }
        if (job == 1) {
            checkname();
            host_.run({tool("keyset"), "pp", "00"});
            host_.run({tool("keyset"), "ss", "00"});
        } else if (job == 3) {
            std::error_code ec;
            std::filesystem::remove(qor::site_path("/u/tarnu/status/job.txt"), ec);
            if (obsnum >= 0) host_.background({tool("newimage2"), std::to_string(obsnum)});
        }
    }
    prev_job = job;
}

void Daemon::checkname() {
    char letter = ' ';
    for (const auto& line : file_lines(qor::site_path("/u/tarnu/FILTER"))) {
        if (line.size() < 3) continue;
        auto n = read_int(std::string_view(line).substr(2, 77));
        if (n && *n == filter) {
            letter = line[0];
            break;
        }
    }

    if (auto n = tool_int("variables", "obsnum")) obsnum = *n;
    std::string object = read_tool({"varshow", "object", "0"}, 80);

    std::string block;
    auto names = file_lines(qor::site_path("/u/tarnu/NAME"));
    for (std::size_t i = 1; i < names.size(); ++i) {
        std::string line = names[i] + "\n";
        if (line.size() >= 36 && line.compare(36, object.size(), object) == 0) {
            line[4] = '\n';
            line[35] = '\n';
            block = line;
            break;
        }
    }
    if (block.empty()) {
        auto part = [&](std::size_t pos) {
            std::string s = pos < v1.size() ? v1.substr(pos, 10) : "";
            s.resize(10, ' ');
            return s;
        };
        block = "NONE\n" + part(20) + " " + part(30) + "\n" + object;
    }
    if (block.back() != '\n') block += '\n';

    std::string netjob =
        qor::read_first_line(qor::site_path("/u/tarnu/status/netjob.log"), 79).value_or("");
    netjob = std::string(c_text(netjob));
    if (netjob.empty() || netjob.back() != '\n') netjob += '\n';

    if (auto e = tool_int("exposure", "0")) expt = *e / 100;
    if (auto r = tool_int("nr", "0")) rows = *r;
    if (auto c = tool_int("nc", "0")) cols = *c;

    std::string text = format_int("%03d", obsnum);
    text += expo.vv > 10 ? " " + netjob : "\n";
    text += block;
    if (filter != 0)
        text += std::to_string(filter) + " " + letter + "\n";
    else
        text += "?\n";
    text += std::to_string(expt) + "\n";
    text += std::to_string(rows) + " x " + std::to_string(cols) + "\n";
    qor::replace_file(qor::site_path("/u/tarnu/status/job.txt"), text);
}

} // namespace qlink
