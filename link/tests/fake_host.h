// A scripted world for the daemon: prepared reads from the far end, every
// byte written recorded, and the clock, programs and console of the shared
// fake system (the mailbox tools and exp3 played over a key map).
#pragma once

#include "build.h"
#include "fake_system.h"
#include "scratch.h"
#include "seam.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>

namespace qlink::test {

struct FakeHost : qor::test::FakeSystemOf<Host> {
    bool open_fails = false;
    int configure_result = 0;
    std::deque<std::string> inbound; // one read each
    std::vector<std::string> events; // "open", "close", "flush", "write:<bytes>"
    std::vector<std::string> writes;
    std::string exp3;
    int searches = 0;

    FakeHost() {
        programs["exp3"] = [this](const qor::Argv&) { return qor::Captured{exp3, 0}; };
    }

    bool open_port(const Build&, std::string& error) override {
        events.push_back("open");
        error = "No such file or directory";
        return !open_fails;
    }
    int configure(const Build&, bool verbose) override {
        if (verbose) out += "BAUD: 9600\n";
        return configure_result;
    }
    std::string read_port(std::size_t max) override {
        if (inbound.empty()) return {};
        std::string s = inbound.front().substr(0, max);
        inbound.pop_front();
        return s;
    }
    void write_port(std::string_view b) override {
        events.push_back("write:" + std::string(b));
        writes.emplace_back(b);
    }
    void flush_port() override { events.push_back("flush"); }
    void close_port() override { events.push_back("close"); }
    void end_other_instances(const Build&) override { ++searches; }

    long count(const std::string& event, std::size_t from = 0) const {
        return std::count(events.begin() + static_cast<long>(from), events.end(), event);
    }
};

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
