#include "status_site.h"

#include "files.h"
#include "frame_record.h"
#include "observation.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace qstatus::test {

using qor::test::TempSite;

int start_qorstatus(TempSite& site, const qor::Argv& extra, std::string& error, pid_t* pid) {
    static int runs = 0;
    std::string out = site.root() + "/qorstatus" + std::to_string(++runs) + ".out";
    qor::Argv argv{QORSTATUS_PATH};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back("0");
    pid_t started = site.start(argv, out);
    if (pid) *pid = started;
    int port = 0;
    const std::string mark = "http://127.0.0.1:";
    TempSite::wait_for(
        [&] {
            std::string text = qor::read_file(out).value_or("");
            auto at = text.find(mark);
            if (at != std::string::npos) port = std::atoi(text.c_str() + at + mark.size());
            return port > 0;
        },
        std::chrono::seconds(10));
    if (port == 0) error = "qorstatus did not start: " + qor::read_file(out).value_or("");
    return port;
}

Connection::Connection(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

Connection::~Connection() {
    if (fd_ >= 0) close(fd_);
}

bool Connection::send(const std::string& bytes) {
    std::size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return fd_ >= 0;
}

namespace {

// True once received holds a whole answer: its head and as much body as it
// announced (chromedriver may keep the connection open after it).
bool whole_answer(const std::string& received) {
    auto split = received.find("\r\n\r\n");
    if (split == std::string::npos) return false;
    std::string head = received.substr(0, split);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto length = head.find("content-length:");
    return length != std::string::npos &&
           received.size() - split - 4 >= std::strtoul(head.c_str() + length + 15, nullptr, 10);
}

} // namespace

bool Connection::closed_within(double seconds, bool answer_ends) {
    if (fd_ < 0) return true;
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    char buf[16384];
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        until - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (r < 0 && errno != EINTR) return true;
        if (r <= 0) continue;
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true; // closed, or reset
        received.append(buf, static_cast<std::size_t>(n));
        if (answer_ends && whole_answer(received)) return false;
    }
}

Answer parse_answer(const std::string& reply) {
    Answer a;
    auto split = reply.find("\r\n\r\n");
    if (reply.compare(0, 9, "HTTP/1.1 ") != 0 || split == std::string::npos) return a;
    a.status = std::atoi(reply.c_str() + 9);
    a.head = reply.substr(0, split);
    a.body = reply.substr(split + 4);
    return a;
}

Answer http(int port, const std::string& method, const std::string& target, const std::string& body,
            const std::string& host, double seconds) {
    Connection c(port);
    std::string request =
        method + " " + target +
        " HTTP/1.1\r\nHost: " + (host.empty() ? "127.0.0.1:" + std::to_string(port) : host) +
        "\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    if (!body.empty()) request += "Content-Type: application/json\r\n";
    request += "\r\n" + body;
    if (!c.send(request)) return {};
    c.closed_within(seconds, true);
    return parse_answer(c.received);
}

SlowClients::SlowClients(int port, int silent, int trickling)
    : thread_([this, port, silent, trickling] {
          std::vector<std::unique_ptr<Connection>> held(silent + trickling);
          auto last_line = std::chrono::steady_clock::now();
          while (!stop_) {
              bool tick = std::chrono::steady_clock::now() - last_line >= std::chrono::seconds(2);
              if (tick) last_line = std::chrono::steady_clock::now();
              for (std::size_t i = 0; i < held.size(); ++i) {
                  bool trickles = static_cast<int>(i) < trickling;
                  if (!held[i] || held[i]->closed_within(0.001)) {
                      held[i] = std::make_unique<Connection>(port);
                      if (trickles) held[i]->send("GET /status.json HTTP/1.1\r\n");
                  } else if (trickles && tick) {
                      held[i]->send("X-Slow: 1\r\n");
                  }
              }
              std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
      }) {}

SlowClients::~SlowClients() {
    stop_ = true;
    thread_.join();
}

long rss_kb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    return 0;
}

void write_night(TempSite& site, const std::string& now_line, int frame, bool live) {
    auto status = [&](const std::string& name) { return site.path("/u/tarnu/status/" + name); };
    std::string number = std::to_string(frame);
    if (!live) {
        // The simulated telescope's record, laid out as the link does.
        qor::replace_file(status("telescope.txt"),
                          "21:05:07.3\n10:44:10.9\n01:01:24.5\n+10:08:41.\n03:43:16.5\n"
                          "TR00 OK 0003\n+003.9C\n-110.00\n2026-12-08T21:04:50.0      17\n");
        qor::replace_file(status("job.txt"), "00" + number +
                                                 "\n0001\nOrion nebula                  \nM42\n"
                                                 "3 V\n30\n512 x 512\n");
    }
    qor::replace_file(status("nowjob.txt"), now_line + "\n");
    qor::append_file(site.path("/u/tarnu/qorlib/obs.log"), now_line + "\nfilt_V\n");
    std::string cards = site.path("/data/d") + number + ".ccd\n";
    for (const char* c :
         {"DATE-OBS", "EXPTIME", "FILTER", "OBJECT", "NAXIS1", "NAXIS2", "CCD-TEMP", "OBSERVER"})
        cards += std::string(c) + std::string(10 - std::string(c).size(), ' ') + "= 1\n";
    qor::replace_file(status("lastimage.txt"), cards);
    site.run({"convert", "-size", "512x512", "gradient:white-black", "-swirl", "120",
              status("last2.jpg")});
}

std::string event_line(double at, const std::string& kind, const std::string& text) {
    return qor::iso_utc(at) + "\t" + kind + "\t" + text + "\n";
}

void write_night_report(TempSite& site, int frames, double start, const std::string& object) {
    const std::string fits = site.path("/data/fits/");
    std::filesystem::create_directories(fits);
    if (!qor::file_exists(fits + "d1.jpg"))
        site.run({"convert", "-size", "256x256", "gradient:white-black", fits + "d1.jpg"});
    std::string index = qarch::index_heading();
    std::string events =
        event_line(start - 86400, "line", "1: yesterday") +
        event_line(start - 86400 + 5, "post", "filt_B") +
        event_line(start - 30, "line",
                   "1: A001 V 60 " + std::to_string(frames) + " 05:35:17.3 -05:23:28 2000") +
        event_line(start - 29, "post", "filt_V") +
        event_line(start - 20, "reply", "12:00:00_filt_done");
    for (int n = 1; n <= frames; ++n) {
        const double t = start + (n - 1) * 120.0;
        const std::string name = "d" + std::to_string(n);
        if (n > 1)
            std::filesystem::copy_file(fits + "d1.jpg", fits + name + ".jpg",
                                       std::filesystem::copy_options::skip_existing);
        qarch::Observation o;
        o.frame = name + ".ccd";
        o.obsnum = n;
        o.object = n == 1 ? object : "M42";
        o.exptime = 60;
        o.date_obs = qor::iso_utc(t);
        index += qarch::index_line(o, name + ".fits");
        events += event_line(t - 19, "post", "move_05:35:17.3_-05:23:28") +
                  event_line(t - 2, "reply", "12:00:00_move_done") +
                  event_line(t, "expose", name + ".ccd 60") +
                  event_line(t + 70, "frame", name + ".ccd");
    }
    qor::replace_file(fits + "index.csv", index);
    qor::replace_file(site.path("/u/tarnu/qorlib/events.log"), events);
}

} // namespace qstatus::test
