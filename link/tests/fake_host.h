// A scripted world for the daemon: a far end that hands over prepared reads
// and records every byte written, a clock that moves only when the daemon
// sleeps, and stand-ins for the mailbox tools and exp3 over a key map.
#pragma once

#include "build.h"
#include "seam.h"

#include <cmath>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace qlink::test {

struct FakeHost : Host {
    // Port.
    bool open = false;
    bool open_fails = false;
    int configure_result = 0;
    std::deque<std::string> inbound; // one entry per read; "" for nothing
    std::vector<std::string> events; // "open", "close", "flush", "write:<bytes>"
    std::vector<std::string> writes;

    // Clock: seconds since the epoch; tests run in UTC.
    double t = 0;
    std::vector<double> sleeps;

    // Programs.
    std::map<std::string, std::string> db; // "qor.ss", "variables.obsnum", ...
    std::string exp3;
    std::vector<qor::Argv> runs, captures, backgrounds;
    int instance_searches = 0;
    std::string out;

    bool open_port(const Build&, std::string& error) override {
        events.push_back("open");
        if (open_fails) {
            error = "No such file or directory";
            return false;
        }
        open = true;
        return true;
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
    void write_port(std::string_view bytes) override {
        events.push_back("write:" + std::string(bytes));
        writes.emplace_back(bytes);
    }
    void flush_port() override { events.push_back("flush"); }
    void close_port() override {
        events.push_back("close");
        open = false;
    }
    double now() override { return t; }
    void sleep(double s) override {
        sleeps.push_back(s);
        t += s;
    }

    static std::string base(const std::string& path) {
        return std::filesystem::path(path).filename();
    }
    int run(const qor::Argv& argv) override {
        runs.push_back(argv);
        if (base(argv[0]) == "keyset" && argv.size() >= 3) db["qor." + argv[1]] = argv[2];
        return 0;
    }
    std::string capture(const qor::Argv& argv, std::size_t max) override {
        captures.push_back(argv);
        std::string name = base(argv[0]), value;
        if (name == "keyshow" && argv.size() >= 2) {
            auto it = db.find("qor." + argv[1]);
            if (it != db.end()) value = it->second + "\n";
        } else if (name == "varshow" && argv.size() >= 3) {
            auto it = db.find(argv[1] + "." + argv[2]);
            if (it != db.end()) value = it->second + "\n";
        } else if (name == "exp3") {
            value = exp3;
        }
        return value.substr(0, max);
    }
    bool background(const qor::Argv& argv) override {
        backgrounds.push_back(argv);
        return true;
    }
    void end_other_instances(const Build&) override { ++instance_searches; }
    void print(std::string_view text) override { out += text; }

    // Runs of a tool by its name, e.g. "keyset".
    std::vector<qor::Argv> runs_of(const std::string& name) const {
        std::vector<qor::Argv> r;
        for (const auto& a : runs)
            if (base(a[0]) == name) r.push_back(a);
        return r;
    }
    std::vector<std::string> writes_since(std::size_t from) const {
        return {writes.begin() + static_cast<long>(from), writes.end()};
    }
};

// Seconds since the epoch of a UTC time of day on 8 Dec 2026.
inline double at(int h, int m, double s) {
    return 1796688000.0 + h * 3600 + m * 60 + s;
}

// A temporary site root for one test, with the directories the daemon uses.
struct TempRoot {
    std::filesystem::path dir;
    TempRoot() {
        char tmpl[] = "/tmp/linktest.XXXXXX";
        dir = mkdtemp(tmpl);
        for (const char* d : {"u/tarnu/mokel", "u/tarnu/qorlib", "u/tarnu/status", "dev"})
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
