// qorstatus under load, on loopback, in a simulated site of its own:
//   1. fifty observers' pages polling every second for a minute: answers,
//      the slowest, the server's CPU share and its resident size;
//   2. a flood of 300 MB of header lines, connection after connection: the
//      server's resident size before, at its largest and after;
//   3. 50 silent and 8 trickling connections held open (each opened again
//      when the server closes it) while a page polls 20 times: the slowest.
// The slow-client figure has the same server at rest, in the same run, beside it.
//
//   cmake --build build --target bench_status && build/bench/bench_status
#include "files.h"
#include "status_site.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace std::chrono;
using namespace qstatus::test;

namespace {

double since(steady_clock::time_point t) {
    return duration<double>(steady_clock::now() - t).count();
}

// User plus system CPU seconds of a process so far, from /proc.
double cpu_seconds(pid_t pid) {
    std::string stat = qor::read_file("/proc/" + std::to_string(pid) + "/stat").value_or(")");
    std::istringstream in(stat.substr(stat.rfind(')') + 1));
    std::string f[13];
    for (auto& field : f) in >> field; // fields 3 to 15: utime and stime last
    return (std::atol(f[11].c_str()) + std::atol(f[12].c_str())) / double(sysconf(_SC_CLK_TCK));
}

void polling_pages(int port, pid_t server) {
    constexpr int clients = 50, polls = 60;
    std::atomic<int> answered = 0, images = 0, late = 0;
    std::atomic<long> slowest_ms = 0;
    auto start = steady_clock::now() + milliseconds(500);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            // Pages opened at different moments poll at different phases.
            auto at = start + milliseconds(c * 1000 / clients);
            for (int s = 0; s < polls; ++s, at += seconds(1)) {
                std::this_thread::sleep_until(at);
                auto sent = steady_clock::now();
                Answer r = http(port, "GET", "/status.json");
                bool ok = r.status == 200 && r.body.find("\"telescope\"") != std::string::npos;
                if (ok && s % 10 == c % 10) { // now and then the preview changed
                    Answer i = http(port, "GET", "/preview?v=1");
                    ok = i.status == 200 && i.body.size() > 1000;
                    images += ok;
                }
                long ms = duration_cast<milliseconds>(steady_clock::now() - sent).count();
                for (long m = slowest_ms; ms > m && !slowest_ms.compare_exchange_weak(m, ms);) {
                }
                late += ms > 1000; // the page would ask again before this answer came
                answered += ok;
            }
        });
    }
    std::vector<long> rss;
    double cpu = -cpu_seconds(server);
    for (int s = 0; s <= polls; ++s) {
        std::this_thread::sleep_until(start + seconds(s));
        rss.push_back(rss_kb(server));
    }
    for (auto& t : threads) t.join();
    double wall = since(start);
    cpu += cpu_seconds(server);
    std::printf("%d pages polling every second for %d s: %d of %d answered (%d previews), %d "
                "later than a second, slowest %ld ms; CPU %.2f s in %.1f s (%.1f%% of one "
                "core); resident %ld kB at start, %ld kB at the end\n",
                clients, polls, answered.load(), clients * polls, images.load(), late.load(),
                slowest_ms.load(), cpu, wall, 100 * cpu / wall, rss.front(), rss.back());
}

void header_flood(int port, pid_t server) {
    const std::string chunk = [] {
        std::string s;
        while (s.size() < (1 << 20)) s += "X-Flood: " + std::string(1000, 'f') + "\r\n";
        return s;
    }();
    const long before = rss_kb(server);
    long peak = before;
    long long sent = 0;
    int connections = 0;
    auto start = steady_clock::now();
    while (sent < 300LL << 20 && since(start) < 60) {
        Connection c(port);
        ++connections;
        if (!c.send("GET / HTTP/1.1\r\n")) continue;
        while (sent < 300LL << 20 && c.send(chunk)) sent += chunk.size();
        peak = std::max(peak, rss_kb(server));
    }
    std::printf("header flood: %lld MB sent over %d connections in %.1f s; resident %ld kB "
                "before, %ld kB at most, %ld kB after\n",
                sent >> 20, connections, since(start), before, peak, rss_kb(server));
}

void slow_clients(int port) {
    std::optional<SlowClients> hostile(std::in_place, port, 50, 8);
    std::this_thread::sleep_for(seconds(1));
    double worst = 0, rest = 0;
    int answered = 0;
    for (int i = 0; i < 20; ++i) {
        auto sent = steady_clock::now();
        answered += http(port, "GET", "/status.json").status == 200;
        worst = std::max(worst, since(sent));
        std::this_thread::sleep_for(milliseconds(500));
    }
    hostile.reset();
    for (int i = 0; i < 20; ++i) {
        auto sent = steady_clock::now();
        http(port, "GET", "/status.json");
        rest = std::max(rest, since(sent));
    }
    std::printf("50 silent and 8 trickling clients: %d of 20 polls answered, slowest %.1f ms "
                "(at rest %.1f ms)\n",
                answered, worst * 1000, rest * 1000);
}

} // namespace

int main() {
    qor::test::TempSite site;
    if (!site.ok()) {
        std::fprintf(stderr, "bench_status: %s\n", site.error().c_str());
        return 1;
    }
    write_night(site, "A001 V 30 3 05:35:17 -05:23:28 2000 1 1 512 512 0 s M42", 3, false);
    qor::replace_file(site.root() + "/tonight.bat", "A001 V 30 3 x\n");
    std::string error;
    pid_t server = 0;
    int port = start_qorstatus(site, {"--batch", site.root() + "/tonight.bat"}, error, &server);
    if (port == 0) {
        std::fprintf(stderr, "bench_status: %s\n", error.c_str());
        return 1;
    }
    slow_clients(port);
    header_flood(port, server);
    polling_pages(port, server);
    return 0;
}
