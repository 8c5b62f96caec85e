// The daemon's builds and linktest in real time, in a temporary site,
// against the simulated telescope control computer and the simulated camera.
#pragma once

#include "control.h"
#include "files.h"
#include "temp_site.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace qlink::test {

using namespace std::chrono_literals;
using qor::test::TempSite;

struct Logged {
    double t;
    std::string text; // escaped as the simulator logs it
};

struct Night : ::testing::Test {
    TempSite site;
    pid_t daemon = -1;

    void start_scope(std::vector<std::string> options) {
        ASSERT_TRUE(site.ok()) << site.error();
        qor::Argv argv{"scopesim", "--daemon", "--ti-interval", "0"};
        argv.insert(argv.end(), options.begin(), options.end());
        ASSERT_EQ(site.run(argv), 0);
        ASSERT_TRUE(TempSite::wait_for(
            [&] { return std::filesystem::exists(site.path("/dev/ttyS0")); }, 5s));
    }
    // A program of the tools directory, its output in <root>/<program>.out.
    pid_t start(const std::string& program, qor::Argv args = {}) {
        qor::Argv argv{site.tool(program)};
        argv.insert(argv.end(), args.begin(), args.end());
        return site.start(argv, output_path(program));
    }
    void start_daemon(qor::Argv args = {}) { daemon = start("telelink", std::move(args)); }
    std::string output_path(const std::string& program) {
        return site.root() + "/" + program + ".out";
    }
    std::string output(const std::string& program = "telelink") {
        return qor::read_file(output_path(program)).value_or("");
    }
    bool wait_output(const std::string& text, const std::string& program = "telelink",
                     std::chrono::seconds limit = 10s) {
        return TempSite::wait_for([&] { return output(program).find(text) != std::string::npos; },
                                  limit);
    }
    void control(const std::string& line) {
        std::string error;
        ASSERT_TRUE(qor::scope::send_control(site.root(), line, error)) << error;
    }
    std::vector<Logged> received() {
        std::vector<Logged> out;
        std::ifstream in(site.root() + "/var/scope/received.log");
        for (std::string line; std::getline(in, line);) {
            auto a = line.find(' '), b = line.find(' ', a + 1);
            if (b == std::string::npos) continue;
            out.push_back({std::stod(line.substr(0, a)), line.substr(b + 1)});
        }
        return out;
    }
    // What the send phases carried, dome requests and attention left out.
    std::vector<std::string> send_phases() {
        std::vector<std::string> out;
        for (const auto& r : received())
            if (r.text != "`\\x00" && r.text != "`&" && r.text != "`$") out.push_back(r.text);
        return out;
    }
    int count_received(const std::string& text) {
        int n = 0;
        for (const auto& r : received()) n += r.text == text;
        return n;
    }
    bool wait_received(const std::string& text, int times = 1, std::chrono::seconds limit = 8s) {
        return TempSite::wait_for([&] { return count_received(text) >= times; }, limit);
    }
    std::string key(const std::string& name) { return site.key(name).value_or(""); }
    std::string file(const std::string& path) {
        return qor::read_file(site.path(path)).value_or("");
    }
    std::string scope_log() {
        return qor::read_file(site.root() + "/var/scope/scope.log").value_or("");
    }
    static bool alive(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }
};

} // namespace qlink::test
