// A scripted world for the daemon: prepared reads from the far end, every
// byte written recorded, and the clock, programs and console of the shared
// fake system (the mailbox tools and exp3 played over a key map).
#pragma once

#include "build.h"
#include "fake_system.h"
#include "scratch.h"
#include "seam.h"
#include "status_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <set>

namespace qlink::test {

struct FakeHost : qor::test::FakeSystemOf<Host> {
    bool open_fails = false;
    int configure_result = 0;
    // One read each; nothing in place of a string is a read error.
    std::deque<std::optional<std::string>> inbound;
    int write_failures = 0; // the next writes that fail
    bool background_fails = false;
    std::set<std::string> hung; // programs that run into their time limit
    // "chmod <mode> <device>", "search", "open <device>[ nonblocking]",
    // "flush", "close", "write:<bytes>", in order.
    std::vector<std::string> events;
    std::vector<std::string> writes;
    std::vector<std::vector<std::string>> searches; // names of each single-instance step
    std::string exp3;

    FakeHost() {
        programs["exp3"] = [this](const qor::Argv&) { return qor::Captured{exp3, 0}; };
    }

    bool open_port(const Port& port, std::string& error) override {
        events.push_back("open " + base(port.device) + (port.nonblocking ? " nonblocking" : ""));
        error = "No such file or directory";
        return !open_fails;
    }
    int configure(const Port& port, bool verbose) override {
        if (verbose && port.baud_file) out += "BAUD: 9600\n";
        return configure_result;
    }
    std::optional<std::string> read_port(std::size_t max, std::string& error) override {
        if (inbound.empty()) return std::string();
        auto s = inbound.front();
        inbound.pop_front();
        if (!s) error = "Input/output error";
        return s ? std::optional(s->substr(0, max)) : std::nullopt;
    }
    bool write_port(std::string_view b, std::string& error) override {
        if (write_failures > 0) {
            --write_failures;
            error = "Input/output error";
            return false;
        }
        events.push_back("write:" + std::string(b));
        writes.emplace_back(b);
        return true;
    }
    void flush_port() override { events.push_back("flush"); }
    void close_port() override { events.push_back("close"); }
    void end_other_instances(std::span<const char* const> names) override {
        events.push_back("search");
        searches.emplace_back(names.begin(), names.end());
    }
    bool background(const qor::Argv& a, const std::string& log = {}) override {
        FakeSystemOf::background(a, log);
        errno = ENOENT;
        return !background_fails;
    }
    int run(const qor::Argv& a, double limit = qor::default_time_limit()) override {
        if (hung.count(base(a[0]))) return hang(runs, a, limit).status;
        if (a.size() == 4 && a[0] == "sudo") events.push_back("chmod " + a[2] + " " + base(a[3]));
        return FakeSystemOf::run(a, limit);
    }
    qor::Captured capture(const qor::Argv& a, std::size_t max,
                          double limit = qor::default_time_limit()) override {
        if (hung.count(base(a[0]))) return hang(captures, a, limit);
        return FakeSystemOf::capture(a, max, limit);
    }

    long count(const std::string& event, std::size_t from = 0) const {
        return std::count(events.begin() + static_cast<long>(from), events.end(), event);
    }

  private:
    qor::Captured hang(std::vector<qor::Argv>& log, const qor::Argv& a, double limit) {
        log.push_back(a);
        t += limit;
        return {"", qor::timed_out_status, true};
    }
};

// A status record as the far end sends it: filter 3 at status-line 56-59,
// the further characters after it.
inline std::string status_record(const std::string& clock = "21:05:07.4",
                                 const std::string& tail = "0003XYZ1234") {
    qor::StatusFields f{clock,       "21:05:07.4", "12:34:56.7", "+12:34:56.7",
                        "0:00:00.0", "ABCDEF" + tail.substr(0, 4), tail.substr(4)};
    return "`" + qor::status_line_text(f) + "\n";
}

// exp3 output: begin, end and readout-end stamps (hh:mm:ss of 8 Dec 2026),
// temperature and vv.
inline std::string exp3_line(const char* b, const char* e, const char* r, int vv = 5) {
    auto s = [](const char* t) { return std::string("2026-12-08T") + t + ".0"; };
    return s(b) + " " + s(e) + " " + s(r) + " -110.7 " + std::to_string(vv) + "\n";
}
inline const std::string idle_exp3 = exp3_line("21:00:00", "21:00:30", "21:00:45");

// Runs n cycles of a daemon (or linktest); what went out in each cycle that
// wrote something.
template <class Cycler> std::vector<std::string> sent_in(Cycler& c, FakeHost& host, int n) {
    std::vector<std::string> sent;
    for (int i = 0; i < n; ++i) {
        std::size_t before = host.writes.size();
        c.cycle();
        if (host.writes.size() > before) sent.push_back(host.writes.back());
    }
    return sent;
}

// Seconds since the epoch of a UTC time of day on 8 Dec 2026.
inline double at(int h, int m, double s) {
    return 1796688000.0 + h * 3600 + m * 60 + s;
}

// A scratch site root with the directories the daemon writes into.
struct TempRoot {
    qor::test::Scratch scratch{"linktest"};
    std::filesystem::path dir = scratch.dir();
    TempRoot() {
        for (const char* d : {"u/tarnu/mokel", "u/tarnu/qorlib", "u/tarnu/status"})
            std::filesystem::create_directories(dir / d);
        setenv("QOR_ROOT", dir.c_str(), 1);
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    ~TempRoot() { unsetenv("QOR_ROOT"); }
    std::string path(const std::string& rel) const { return (dir / rel).string(); }
};

} // namespace qlink::test
