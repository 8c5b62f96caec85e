// A scripted world for the daemon: prepared reads from the far end, every
// byte written recorded, a clock that moves only when the daemon sleeps, and
// the mailbox tools and exp3 played over a key map.
#pragma once

#include "build.h"
#include "seam.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>

namespace qlink::test {

struct FakeHost : Host {
    bool open_fails = false;
    int configure_result = 0;
    std::deque<std::string> inbound; // one read each
    std::vector<std::string> events; // "open", "close", "flush", "write:<bytes>"
    std::vector<std::string> writes;
    double t = 0; // seconds since the epoch (tests run in UTC)
    std::vector<double> sleeps;
    std::map<std::string, std::string> db; // "qor.ss", "variables.obsnum", ...
    std::string exp3;
    std::vector<qor::Argv> runs, captures, backgrounds;
    int searches = 0;
    std::string out;

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
    double now() override { return t; }
    void sleep(double s) override {
        sleeps.push_back(s);
        t += s;
    }
    static std::string base(const std::string& p) { return std::filesystem::path(p).filename(); }
    int run(const qor::Argv& a) override {
        runs.push_back(a);
        if (base(a[0]) == "keyset" && a.size() >= 3) db["qor." + a[1]] = a[2];
        return 0;
    }
    std::string capture(const qor::Argv& a, std::size_t max) override {
        captures.push_back(a);
        std::string name = base(a[0]), k;
        if (name == "exp3") return exp3.substr(0, max);
        if (name == "keyshow" && a.size() >= 2) k = "qor." + a[1];
        if (name == "varshow" && a.size() >= 3) k = a[1] + "." + a[2];
        auto it = db.find(k);
        return it == db.end() ? "" : (it->second + "\n").substr(0, max);
    }
    bool background(const qor::Argv& a) override {
        backgrounds.push_back(a);
        return true;
    }
    void end_other_instances(const Build&) override { ++searches; }
    void print(std::string_view text) override { out += text; }

    std::vector<qor::Argv> runs_of(const std::string& name) const {
        std::vector<qor::Argv> r;
        for (const auto& a : runs)
            if (base(a[0]) == name) r.push_back(a);
        return r;
    }
    long count(const std::string& event, std::size_t from = 0) const {
        return std::count(events.begin() + static_cast<long>(from), events.end(), event);
    }
};

// Seconds since the epoch of a UTC time of day on 8 Dec 2026.
inline double at(int h, int m, double s) {
    return 1796688000.0 + h * 3600 + m * 60 + s;
}

// A temporary site root with the directories the daemon writes into.
struct TempRoot {
    std::filesystem::path dir;
    TempRoot() {
        char tmpl[] = "/tmp/linktest.XXXXXX";
        dir = mkdtemp(tmpl);
        for (const char* d : {"u/tarnu/mokel", "u/tarnu/qorlib", "u/tarnu/status"})
            std::filesystem::create_directories(dir / d);
        setenv("QOR_ROOT", dir.c_str(), 1);
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    ~TempRoot() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        unsetenv("QOR_ROOT");
    }
    std::string path(const std::string& rel) const { return (dir / rel).string(); }
};

} // namespace qlink::test
