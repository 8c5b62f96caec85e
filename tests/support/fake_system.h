// A scripted world for unit tests of a program that meets the world only
// through qor::System: a clock that moves only when the program sleeps,
// every program run recorded, the mailbox tools played over a key map,
// other programs answered by the test, a console with typed answers, and
// real files that can be made to fail.
//
//   qor::test::FakeSystem sys;
//   sys.db["qor.ss"] = "00";
//   sys.programs["fff"] = [](const qor::Argv&) { return qor::Captured{"", 0}; };
//   sys.input = {"2", "q"};
//
// FakeSystemOf<Base> plays the same parts for an interface built on
// qor::System (the link daemon's host adds the serial port).
#pragma once

#include "system.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace qor::test {

template <class Base = qor::System> struct FakeSystemOf : Base {
    // Clock: seconds since the epoch (tests run in UTC). t moves with the
    // sleeps; the wall clock reads t + stepped, so a test steps the wall
    // clock alone by changing stepped.
    double t = 0;
    double stepped = 0;
    std::vector<double> sleeps;
    // Called after every sleep, so a test can play the other side of the
    // mailbox or the camera while the program waits.
    std::function<void()> on_sleep;

    // Camera database as the key tools see it: "qor.ss", "variables.obsnum".
    std::map<std::string, std::string> db;
    // Programs other than the key tools, by base name.
    std::map<std::string, std::function<Captured(const Argv&)>> programs;
    std::vector<Argv> runs, captures, backgrounds;
    std::vector<std::string> background_logs; // the log of each background start

    // Console; on_read_line runs as the program reads a typed line.
    std::string out;
    std::deque<std::string> input;
    std::function<void()> on_read_line;

    // Paths whose replace_file/append_file fail, leaving the file as it was.
    std::set<std::string> failing_writes;

    double now() override { return t + stepped; }
    double monotonic() override { return t; }
    void sleep(double s) override {
        sleeps.push_back(s);
        if (s > 0) t += s;
        if (on_sleep) on_sleep();
    }

    static std::string base(const std::string& p) { return std::filesystem::path(p).filename(); }

    // The limit each run was given, in the order of runs and captures.
    std::vector<double> run_limits, capture_limits;

    int run(const Argv& a, double limit = default_time_limit()) override {
        runs.push_back(a);
        run_limits.push_back(limit);
        return call(a).status;
    }
    Captured capture(const Argv& a, std::size_t max, double limit = default_time_limit()) override {
        captures.push_back(a);
        capture_limits.push_back(limit);
        Captured c = call(a);
        if (c.out.size() > max) c.out.resize(max);
        return c;
    }
    bool background(const Argv& a, const std::string& log = {}) override {
        backgrounds.push_back(a);
        background_logs.push_back(log);
        return true;
    }

    void print(std::string_view text) override { out += text; }
    std::optional<std::string> read_line(std::size_t max) override {
        if (on_read_line) on_read_line();
        if (input.empty()) return std::nullopt;
        std::string line = input.front().substr(0, max);
        input.pop_front();
        return line;
    }

    std::optional<std::string> read_file(const std::string& path) override {
        return qor::read_file(path);
    }
    bool replace_file(const std::string& path, std::string_view content) override {
        return !failing_writes.count(path) && qor::replace_file(path, content);
    }
    bool append_file(const std::string& path, std::string_view content) override {
        return !failing_writes.count(path) && qor::append_file(path, content);
    }
    bool remove_file(const std::string& path) override {
        std::error_code ec;
        std::filesystem::remove(path, ec);
        return !ec;
    }

    // The runs of one program, by base name.
    std::vector<Argv> runs_of(const std::string& name) const {
        std::vector<Argv> r;
        for (const auto& a : runs)
            if (base(a[0]) == name) r.push_back(a);
        return r;
    }

  private:
    // keyset writes a key; keyshow and varshow print one as dbshow does
    // (the value and a line end; nothing for a key never set).
    Captured call(const Argv& a) {
        std::string name = base(a[0]);
        if (auto it = programs.find(name); it != programs.end()) return it->second(a);
        if (name == "keyset") {
            if (a.size() >= 3) db["qor." + a[1]] = a[2];
            return {"", 0};
        }
        std::string key;
        if (name == "keyshow" && a.size() >= 2) key = "qor." + a[1];
        if (name == "varshow" && a.size() >= 3) key = a[1] + "." + a[2];
        auto it = db.find(key);
        return {it == db.end() ? "" : it->second + "\n", 0};
    }
};

using FakeSystem = FakeSystemOf<>;

} // namespace qor::test
