// A scripted world for unit tests of a program that meets the world only
// through qor::System: a clock that moves only when the program sleeps,
// every program run recorded, the mailbox tools played over a key map,
// other programs answered by the test, a console with typed answers, and a
// file system in memory that logs every read and write and fails where the
// test asks (no space, a short write, a rename or a sync that fails).
//
//   qor::test::FakeSystem sys;
//   sys.db["qor.ss"] = "00";
//   sys.programs["fff"] = [](const qor::Argv&) { return qor::Captured{"", 0}; };
//   sys.input = {"2", "q"};
//   sys.files["/u/tarnu/FILTER"] = "V 3\n";
//   sys.fail("write", "/u/tarnu/night.batch", Fault::no_space);
//
// FakeSystemOf<Base> plays the same parts for an interface built on
// qor::System (the link daemon's host adds the serial port).
#pragma once

#include "system.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace qor::test {

enum class Fault {
    no_space,    // nothing written: ENOSPC
    short_write, // half the bytes land, then ENOSPC
    io_error,    // EIO (a sync, a rename on a failing disk)
};

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

    // Files, by path; folders are those made, and those holding a file.
    std::map<std::string, std::string> files;
    std::set<std::string> folders;
    std::map<std::string, double> modified;
    // "read P", "write P" (a whole-file replacement), "append P",
    // "remove P", "rename A B", in order.
    std::vector<std::string> file_log;
    struct Failure {
        std::string op;   // "write", "append", "rename", "sync" (of a replacement's file)
        std::string path; // the file it hits (for a replacement, the file replaced)
        Fault fault;
        int times; // operations it still hits; -1 for ever
    };
    std::vector<Failure> failures;
    void fail(std::string op, std::string path, Fault fault, int times = -1) {
        failures.push_back({std::move(op), std::move(path), fault, times});
    }

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

    std::optional<std::string> read_file(const std::string& path, std::size_t max = whole_file,
                                         Links = Links::follow) override {
        file_log.push_back("read " + path);
        auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        return it->second.substr(0, max);
    }
    std::optional<FileInfo> stat(const std::string& path) override {
        FileInfo info;
        if (auto it = files.find(path); it != files.end()) {
            info.size = it->second.size();
            info.modified = modified[path];
            return info;
        }
        if (!is_folder(path)) return std::nullopt;
        info.folder = true;
        return info;
    }
    std::optional<std::vector<std::string>> list(const std::string& folder) override {
        if (!is_folder(folder)) return std::nullopt;
        std::set<std::string> names;
        std::string prefix = folder + "/";
        auto add = [&](const std::string& path) {
            if (path.compare(0, prefix.size(), prefix) != 0) return;
            std::string rest = path.substr(prefix.size());
            names.insert(rest.substr(0, rest.find('/')));
        };
        for (const auto& [path, text] : files) add(path);
        for (const auto& f : folders) add(f);
        return std::vector<std::string>(names.begin(), names.end());
    }
    Done append_file(const std::string& path, std::string_view content) override {
        file_log.push_back("append " + path);
        if (auto f = failure("append", path)) {
            if (*f == Fault::short_write) files[path] += content.substr(0, content.size() / 2);
            return fault_done(*f);
        }
        files[path] += content;
        modified[path] = now();
        return {};
    }
    Done remove_file(const std::string& path) override {
        file_log.push_back("remove " + path);
        files.erase(path);
        return {};
    }
    Done rename_file(const std::string& from, const std::string& to) override {
        file_log.push_back("rename " + from + " " + to);
        auto it = files.find(from);
        if (it == files.end()) return Done::error(ENOENT);
        if (auto f = failure("rename", target_of(from))) return fault_done(*f);
        files[to] = std::move(it->second);
        files.erase(from);
        modified[to] = now();
        return {};
    }
    Done make_folder(const std::string& path) override {
        folders.insert(path);
        return {};
    }
    Done write_temp(const std::string& path, std::string_view content, std::string& temp) override {
        file_log.push_back("write " + path);
        temp = path + ".tmp" + std::to_string(++temps_);
        if (auto f = failure("write", path)) {
            // What a crash would leave: the bytes that landed, in the temporary file.
            if (*f == Fault::short_write) files[temp] = content.substr(0, content.size() / 2);
            files.erase(temp);
            return fault_done(*f);
        }
        files[temp] = content;
        if (auto f = failure("sync", path)) {
            files.erase(temp);
            return fault_done(*f);
        }
        return {};
    }
    Done sync_folder(const std::string&) override { return {}; }

    // A file put in place by the test (or by the world the test plays),
    // modified now.
    void put(const std::string& path, std::string content) {
        files[path] = std::move(content);
        modified[path] = now();
    }
    // A file's content as the test sees it (not logged), or nothing.
    std::optional<std::string> content(const std::string& path) const {
        auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        return it->second;
    }
    // The file's content, or "<absent>".
    std::string file(const std::string& path) const {
        auto it = files.find(path);
        return it == files.end() ? "<absent>" : it->second;
    }

    // The runs of one program, by base name.
    std::vector<Argv> runs_of(const std::string& name) const {
        std::vector<Argv> r;
        for (const auto& a : runs)
            if (base(a[0]) == name) r.push_back(a);
        return r;
    }

  private:
    int temps_ = 0;

    bool is_folder(const std::string& path) const {
        if (folders.count(path)) return true;
        std::string prefix = path + "/";
        auto it = files.lower_bound(prefix);
        return it != files.end() && it->first.compare(0, prefix.size(), prefix) == 0;
    }
    static std::string target_of(const std::string& temp) {
        return temp.substr(0, temp.rfind(".tmp"));
    }
    std::optional<Fault> failure(const std::string& op, const std::string& path) {
        for (auto& f : failures) {
            if (f.op != op || f.path != path || f.times == 0) continue;
            if (f.times > 0) --f.times;
            return f.fault;
        }
        return std::nullopt;
    }
    static Done fault_done(Fault f) { return Done::error(f == Fault::io_error ? EIO : ENOSPC); }

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
