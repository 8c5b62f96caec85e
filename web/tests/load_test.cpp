// Fifty observers' pages polling for a minute: every poll is answered within
// a second, the server's CPU use is reported, and its memory does not grow.
#include "files.h"
#include "status_site.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sstream>
#include <thread>
#include <unistd.h>

using qor::test::TempSite;
using namespace std::chrono;
using namespace qstatus::test;

namespace {

// From /proc: user plus system CPU seconds so far, and the resident size.
double cpu_seconds(pid_t pid) {
    std::string stat = qor::read_file("/proc/" + std::to_string(pid) + "/stat").value_or(")");
    std::istringstream in(stat.substr(stat.rfind(')') + 1));
    std::string f[13];
    for (auto& field : f) in >> field; // fields 3 to 15: utime and stime last
    return (std::atol(f[11].c_str()) + std::atol(f[12].c_str())) / double(sysconf(_SC_CLK_TCK));
}

long rss_kb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    return 0;
}

} // namespace

TEST(StatusLoad, FiftyClientsPollingEverySecondForAMinute) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    write_night(site, "A001 V 30 3 05:35:17 -05:23:28 2000 1 1 512 512 0 s M42", 3, false);
    qor::replace_file(site.root() + "/tonight.bat", "A001 V 30 3 x\n");
    // The sanitizer's quarantine keeps freed memory on purpose; without it
    // the resident size shows only what the server itself holds.
    std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    setenv("ASAN_OPTIONS",
           (asan + ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0").c_str(), 1);
    std::string error;
    pid_t server = 0;
    int port = start_qorstatus(site, {"--batch", site.root() + "/tonight.bat"}, error, &server);
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
    ASSERT_GT(port, 0) << error;

    constexpr int clients = 50, polls = 60;
    std::atomic<int> answered = 0, images = 0, late = 0;
    std::atomic<long> slowest_ms = 0;
    auto start = steady_clock::now() + milliseconds(500);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_connection_timeout(10, 0);
            client.set_read_timeout(10, 0);
            client.set_keep_alive(true); // as a browser would
            // Pages opened at different moments poll at different phases.
            auto at = start + milliseconds(c * 1000 / clients);
            for (int s = 0; s < polls; ++s, at += seconds(1)) {
                std::this_thread::sleep_until(at);
                auto sent = steady_clock::now();
                auto r = client.Get("/status.json");
                bool ok =
                    r && r->status == 200 && r->body.find("\"telescope\"") != std::string::npos;
                if (ok && s % 10 == c % 10) { // now and then the preview changed
                    auto i = client.Get("/preview?v=1");
                    ok = i && i->status == 200 && i->body.size() > 1000;
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

    // The resident size once a second; the first twenty seconds or so warm up
    // the server's eight threads and their allocator arenas.
    std::vector<long> rss;
    double cpu = -cpu_seconds(server);
    for (int s = 0; s <= polls; ++s) {
        std::this_thread::sleep_until(start + seconds(s));
        rss.push_back(rss_kb(server));
    }
    for (auto& t : threads) t.join();
    double wall = duration<double>(steady_clock::now() - start).count();
    cpu += cpu_seconds(server);

    long warm = *std::max_element(rss.begin() + 15, rss.begin() + 25);
    long end = *std::max_element(rss.end() - 5, rss.end());
    std::ostringstream report;
    report << "qorstatus under " << clients << " clients polling every second for " << polls
           << " s: " << answered << " of " << clients * polls << " answered (" << images
           << " previews), " << late << " later than a second, slowest " << slowest_ms
           << " ms; CPU " << cpu << " s in " << wall << " s (" << 100 * cpu / wall
           << "% of one core); resident " << rss[1] << " kB at start, " << warm
           << " kB after warm-up, " << end << " kB at the end\n";
    std::cout << report.str();
    std::filesystem::create_directories(QOR_ARTEFACT_DIR);
    qor::replace_file(QOR_ARTEFACT_DIR "/load-report.txt", report.str());

    EXPECT_EQ(answered.load(), clients * polls);
    EXPECT_GT(images.load(), 0);
    EXPECT_LE(late.load(), clients * polls / 100) << report.str();
    // 1 kB kept per request would be 1.5 MB over the last half minute.
    EXPECT_LT(end - warm, 512) << report.str();
    EXPECT_LT(cpu / wall, 0.8) << report.str(); // busy-waiting would show here
}
