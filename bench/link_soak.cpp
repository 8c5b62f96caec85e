// A night's trouble for the link daemon, in a few minutes: the full build
// runs in this process against the simulated telescope on its
// pseudo-terminal, with a status record every second, garbage, split
// records and quote signs on the line, a time request now and then,
// commands posted like the driver posts them, the cable pulled for 15 s and
// exp3 hung for a minute. Reports resident memory at the end against the
// figure after the first 30 s, the longest cycle against the tool time
// limit plus one second, and the commands posted against those sent.
//
//   cmake --build build --target link_soak && build/bench/link_soak [minutes]   (default 10)
//
// QOR_TIME_LIMIT sets the tool time limit as for every program.
#include "control.h"
#include "daemon.h"
#include "files.h"
#include "real_host.h"
#include "ring.h"
#include "temp_site.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using Clock = std::chrono::steady_clock;

// A figure of /proc/self/status in kB: VmRSS (resident now), RssAnon (the
// part of it that is heap and stack, where a leak would show).
long status_kb(const char* field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// The daemon's messages go to a file: garbage is printed as replies.
struct SoakHost : qlink::RealHost {
    std::string log;
    void print(std::string_view text) override { qor::append_file(log, text); }
};

} // namespace

int main(int argc, char** argv) {
    const double total = 60 * (argc > 1 ? std::atof(argv[1]) : 10.0);
    const double limit = qor::default_time_limit();
    qor::test::TempSite site;
    if (!site.ok()) {
        std::fprintf(stderr, "link_soak: %s\n", site.error().c_str());
        return 1;
    }
    if (site.run({"scopesim", "--daemon", "--status-interval", "1", "--garbage-every", "7",
                  "--split-every", "5", "--quote-every", "3", "--ti-interval", "20"}) != 0) {
        std::fprintf(stderr, "link_soak: the simulated telescope did not start\n");
        return 1;
    }
    auto control = [&](const std::string& line) {
        std::string error;
        if (!qor::scope::send_control(site.root(), line, error))
            std::fprintf(stderr, "link_soak: %s\n", error.c_str());
    };

    SoakHost host;
    host.log = site.root() + "/telelink.out";
    qlink::Daemon daemon(qlink::telelink_build, host);
    if (daemon.start({"telelink"}) != 0) {
        std::fprintf(stderr, "link_soak: the daemon did not start\n");
        return 1;
    }

    const auto t0 = Clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - t0).count(); };
    long rss_before = -1, anon_before = -1;
    bool unplugged = false, hung = false, unhung = false;
    int posted = 0;
    double next_post = 10;
    long cycles = 0;
    while (elapsed() < total) {
        if (!daemon.cycle()) {
            std::fprintf(stderr, "link_soak: the daemon ended (%d)\n", daemon.exit_status());
            return 1;
        }
        ++cycles;
        double t = elapsed();
        if (rss_before < 0 && t >= 30) {
            rss_before = status_kb("VmRSS:");
            anon_before = status_kb("RssAnon:");
        }
        if (!unplugged && t >= total / 4) {
            control("unplug 15");
            unplugged = true;
        }
        if (!hung && t >= total / 2) {
            site.set_key("sim.hang.exp3", "1");
            hung = true;
        }
        if (hung && !unhung && t >= total / 2 + 60) {
            site.set_key("sim.hang.exp3", "0");
            unhung = true;
        }
        // A command every 20 s, posted as the driver posts it, while the ring is empty.
        if (t >= next_post && t < total - 30) {
            next_post = t + 20;
            if (auto c = qor::read_counter(site.key("setups.qor.ss.value").value_or(""));
                c && !c->pending()) {
                char slot = qor::successor(c->posted);
                site.set_key("setups.qor.s" + std::string(1, slot) + ".value",
                             posted % 2 ? "filt_V" : "filt_R");
                site.set_key("setups.qor.ss.value", std::string{slot, c->taken});
                ++posted;
            }
        }
    }
    long rss_after = status_kb("VmRSS:");
    int sent = 0;
    std::ifstream in(site.root() + "/var/scope/received.log");
    for (std::string line; std::getline(in, line);) sent += line.find("`filt ") != line.npos;

    std::printf("link soak: %.0f s, %ld cycles, tool time limit %.1f s\n", total, cycles, limit);
    long anon_after = status_kb("RssAnon:");
    std::printf("resident memory: %ld kB after 30 s, %ld kB at the end: ratio %.3f\n", rss_before,
                rss_after, rss_before > 0 ? double(rss_after) / double(rss_before) : 0.0);
    std::printf("  of it heap and stack: %ld kB after 30 s, %ld kB at the end: ratio %.3f\n",
                anon_before, anon_after,
                anon_before > 0 ? double(anon_after) / double(anon_before) : 0.0);
    std::printf("longest cycle: %.2f s against limit + 1 s = %.1f s: ratio %.2f\n",
                daemon.longest_cycle(), limit + 1, daemon.longest_cycle() / (limit + 1));
    std::printf("commands posted %d, sent %d\n", posted, sent);
    return 0;
}
