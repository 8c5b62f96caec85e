// scopesim: the telescope control computer at the far end of the serial
// line, on a pseudo-terminal linked at $QOR_ROOT/dev/ttyS0 and ttyUSB0.
// See README.md for its options, its control FIFO and its logs.

#include "control.h"
#include "pty.h"
#include "sim.h"
#include "text.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace qor::scope;

namespace {

const char* usage_text =
    "usage: scopesim [--root DIR] [--daemon] [options]\n"
    "       scopesim [--root DIR] --control 'REQUEST'\n"
    "options: --status-interval S  --slew-rate DEG_PER_S  --filter-time S\n"
    "         --ti-interval S (0 never)  --time-tolerance S  --quote-every N (0 never)\n"
    "         --clock-offset S  --longitude DEG  --ra HOURS  --dec DEG  --filter N\n"
    "         --no-pace  --restart-every S  --garbage-every S  --split-every N\n"
    "         --seed N  --verbose\n"
    "       scopesim [--root DIR] [options] --print-status   (the first status line, then end)\n";

double now_s() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct Options {
    Config cfg;
    bool daemon = false;
    std::string control;
    bool has_control = false;
    bool print_status = false;
};

bool parse_number(const char* text, double& out) {
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(v)) return false;
    out = v;
    return true;
}

// False with a message for anything not understood.
bool parse_options(int argc, char** argv, Options& o, std::string& error) {
    const char* root = std::getenv("QOR_ROOT");
    if (root) o.cfg.root = root;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](double& out, double lo, double hi) {
            if (i + 1 >= argc) {
                error = a + " needs a value";
                return false;
            }
            double v = 0;
            if (!parse_number(argv[++i], v) || v < lo || v > hi) {
                error = a + ": bad value " + argv[i];
                return false;
            }
            out = v;
            return true;
        };
        double v = 0;
        Config& c = o.cfg;
        if (a == "--root") {
            if (i + 1 >= argc) {
                error = "--root needs a directory";
                return false;
            }
            c.root = argv[++i];
        } else if (a == "--control") {
            if (i + 1 >= argc) {
                error = "--control needs a request";
                return false;
            }
            o.control = argv[++i];
            o.has_control = true;
        } else if (a == "--daemon") {
            o.daemon = true;
        } else if (a == "--print-status") {
            o.print_status = true;
        } else if (a == "--no-pace") {
            c.pace = false;
        } else if (a == "--verbose") {
            c.echo = true;
        } else if (a == "--status-interval") {
            if (!value(c.status_interval, 0.05, 3600)) return false;
        } else if (a == "--slew-rate") {
            if (!value(c.slew_rate, 0.001, 360)) return false;
        } else if (a == "--filter-time") {
            if (!value(c.filter_time, 0, 600)) return false;
        } else if (a == "--ti-interval") {
            if (!value(c.ti_interval, 0, 86400)) return false;
        } else if (a == "--time-tolerance") {
            if (!value(v, 0, 43200)) return false;
            c.time_tolerance = static_cast<int>(v);
        } else if (a == "--quote-every") {
            if (!value(v, 0, 1e6)) return false;
            c.quote_every = static_cast<int>(v);
        } else if (a == "--clock-offset") {
            if (!value(c.clock_offset, -86400, 86400)) return false;
        } else if (a == "--longitude") {
            if (!value(c.longitude, -360, 360)) return false;
        } else if (a == "--ra") {
            if (!value(c.start_ra, 0, 24)) return false;
        } else if (a == "--dec") {
            if (!value(c.start_dec, -90, 90)) return false;
        } else if (a == "--filter") {
            if (!value(v, 0, 9999)) return false;
            c.filter = static_cast<int>(v);
        } else if (a == "--restart-every") {
            if (!value(c.restart_every, 0, 86400)) return false;
        } else if (a == "--garbage-every") {
            if (!value(c.garbage_every, 0, 86400)) return false;
        } else if (a == "--split-every") {
            if (!value(v, 0, 1e6)) return false;
            c.split_every = static_cast<int>(v);
        } else if (a == "--seed") {
            if (!value(v, 0, 4e9)) return false;
            c.seed = static_cast<unsigned>(v);
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    // Never the real /dev/ttyS0 of an observing host.
    if (o.cfg.root.empty()) {
        error = "no site root: set QOR_ROOT or give --root";
        return false;
    }
    std::error_code ec;
    fs::path abs = fs::absolute(o.cfg.root, ec);
    if (ec) {
        error = o.cfg.root + ": " + ec.message();
        return false;
    }
    o.cfg.root = abs.lexically_normal().string();
    while (o.cfg.root.size() > 1 && o.cfg.root.back() == '/') o.cfg.root.pop_back();
    return true;
}

// A live simulator of this site, by its pid file.
bool already_running(const std::string& pid_file) {
    std::ifstream in(pid_file);
    long pid = 0;
    if (!(in >> pid) || pid <= 1) return false;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    return std::getline(comm, name) && name == "scopesim" && static_cast<pid_t>(pid) != getpid();
}

bool names_us(const std::string& pid_file) {
    std::ifstream in(pid_file);
    long pid = 0;
    return (in >> pid) && pid == getpid();
}

struct Site {
    std::string dir, fifo, pid_file;
    std::vector<std::string> links;
    Pty pty;
    Fd control;
};

bool set_up(const Config& cfg, Site& s, std::string& error) {
    s.dir = scope_dir(cfg.root);
    std::error_code ec;
    fs::create_directories(s.dir, ec);
    fs::create_directories(cfg.root + "/dev", ec);
    if (!fs::is_directory(s.dir) || !fs::is_directory(cfg.root + "/dev")) {
        error = "cannot make " + s.dir + " and " + cfg.root + "/dev";
        return false;
    }
    s.pid_file = s.dir + "/scopesim.pid";
    if (already_running(s.pid_file)) {
        error = "a simulator already runs for " + cfg.root;
        return false;
    }
    std::string fifo = s.dir + "/control";
    struct stat st {};
    if (lstat(fifo.c_str(), &st) == 0 && !S_ISFIFO(st.st_mode)) ::unlink(fifo.c_str());
    if (mkfifo(fifo.c_str(), 0666) != 0 && errno != EEXIST) {
        error = fifo + ": " + std::strerror(errno);
        return false;
    }
    s.fifo = fifo;
    // Read-write, so that the FIFO never reports end of file and writers never block.
    s.control = Fd(::open(s.fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!s.control) {
        error = s.fifo + ": " + std::strerror(errno);
        return false;
    }
    if (!open_pty(s.pty, error)) return false;
    for (const char* dev : {"/dev/ttyS0", "/dev/ttyUSB0"}) {
        std::string link = cfg.root + dev;
        if (!make_link(link, s.pty.slave_name, error)) return false;
        s.links.push_back(link);
    }
    std::ofstream(s.pid_file) << getpid() << "\n";
    return true;
}

// Follows the simulator's cable: unplugged, the line and its device links
// are gone (the host's descriptor hangs up); plugged in again, a new line
// appears under the same names, as an adapter does when it comes back.
void follow_cable(const Config& cfg, Sim& sim, Site& site, Log& log, double now,
                  std::size_t& written) {
    bool present = static_cast<bool>(site.pty.master);
    if (sim.plugged() == present) return;
    if (present) {
        for (const auto& l : site.links) remove_link(l, site.pty.slave_name);
        site.pty.slave = Fd();
        site.pty.master = Fd();
        sim.outbox().clear();
        written = 0;
        log.event(now, "line unplugged");
        return;
    }
    std::string error;
    if (!open_pty(site.pty, error)) {
        log.event(now, "cannot plug the line in: " + error);
        return;
    }
    for (const auto& l : site.links) make_link(l, site.pty.slave_name, error);
    log.event(now, "line plugged in: " + site.pty.slave_name + " linked at " + cfg.root +
                       "/dev/ttyS0 and ttyUSB0");
}

void tear_down(Site& s) {
    for (const auto& l : s.links) remove_link(l, s.pty.slave_name);
    if (!s.fifo.empty()) ::unlink(s.fifo.c_str());
    if (names_us(s.pid_file)) ::unlink(s.pid_file.c_str());
}

int run_loop(const Config& cfg, Site& site) {
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    Fd sigs(signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC));
    signal(SIGPIPE, SIG_IGN);
    signal(SIGHUP, SIG_IGN);

    Log log(site.dir, cfg.echo);
    double start = now_s();
    log.event(start, "started, pid " + std::to_string(getpid()) + ", line " + site.pty.slave_name +
                         " linked at " + cfg.root + "/dev/ttyS0 and ttyUSB0");
    Sim sim(cfg, log, start);
    Splitter splitter;
    std::string control_buf;
    std::size_t written = 0; // bytes of the front of the outbox already written
    double last_write = 0;
    bool seen_unread = false;
    bool hung_up = false;
    double next_site_check = start + 2;

    while (!sim.stop_requested()) {
        double now = now_s();
        // A test that removes its site without stopping us must not leave us
        // running for ever: no pid file naming us, no simulator.
        if (now >= next_site_check) {
            next_site_check = now + 2;
            if (!names_us(site.pid_file)) {
                log.event(now, "pid file gone or taken over, stopping");
                break;
            }
        }
        sim.advance(now);
        follow_cable(cfg, sim, site, log, now, written);
        if (!site.pty.master) sim.outbox().clear(); // sent into a loose cable

        // Write what is due. A record goes out only when the host has read
        // everything before it, so that two records never share one read on
        // the host side (a real line would deliver them just as fast, but the
        // host reads only once a second and classes a read as one record).
        auto& out = sim.outbox();
        // Bytes written to the master reach the host's queue a moment later:
        // trust an empty queue only once it was seen full since the last write,
        // or after a delay no kernel takes.
        int unread = unread_by_host(site.pty);
        if (unread > 0) seen_unread = true;
        bool host_has_read = unread == 0 && (seen_unread || now - last_write >= 0.25);
        while (!out.empty() && site.pty.master) {
            Outgoing& o = out.front();
            bool must_wait = cfg.pace || o.wait_read;
            if (written == 0 && must_wait && !host_has_read) {
                if (!(o.wait_read && !cfg.pace && now - last_write > 5.0)) break;
            }
            ssize_t n =
                ::write(site.pty.master.get(), o.bytes.data() + written, o.bytes.size() - written);
            if (n <= 0) break;
            written += static_cast<std::size_t>(n);
            last_write = now;
            seen_unread = false;
            host_has_read = false;
            if (written < o.bytes.size()) break;
            sim.on_sent(o, now);
            out.pop_front();
            written = 0;
        }

        double wake = std::min(sim.next_event(now), next_site_check);
        if (auto d = splitter.deadline()) wake = std::min(wake, *d);
        // The host reads about once a second: looking every 50 ms is plenty.
        if (!out.empty()) wake = std::min(wake, now + 0.05);
        if (hung_up) wake = std::min(wake, now + 0.2);
        int timeout_ms = static_cast<int>(std::clamp((wake - now) * 1000.0 + 1, 0.0, 1000.0));

        pollfd fds[3] = {{site.pty.master.get(), POLLIN, 0},
                         {site.control.get(), POLLIN, 0},
                         {sigs.get(), POLLIN, 0}};
        if (hung_up || !site.pty.master) fds[0].fd = -1; // a hung-up master polls ready for ever
        int r = ::poll(fds, 3, timeout_ms);
        if (r < 0 && errno != EINTR) break;
        now = now_s();
        if (r > 0 && (fds[2].revents & POLLIN)) {
            signalfd_siginfo si{};
            if (::read(sigs.get(), &si, sizeof si) > 0)
                log.event(now, "signal " + std::to_string(si.ssi_signo) + ", stopping");
            break;
        }
        std::vector<Record> recs;
        if (hung_up && site.pty.master) {
            std::string err;
            hung_up = !reopen_slave(site.pty, err);
            if (!hung_up) log.event(now, "line open again");
        }
        if (r > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buf[4096];
            ssize_t n = ::read(site.pty.master.get(), buf, sizeof buf);
            if (n > 0) {
                splitter.feed(std::string_view(buf, static_cast<std::size_t>(n)), now, recs);
                hung_up = false;
            } else if (n < 0 && errno == EIO) {
                // Every slave descriptor closed: keep the line alive by
                // opening it again ourselves.
                std::string err;
                log.event(now, "line hung up, reopening");
                hung_up = !reopen_slave(site.pty, err);
            }
        }
        if (r > 0 && (fds[1].revents & POLLIN)) {
            char buf[1024];
            ssize_t n = ::read(site.control.get(), buf, sizeof buf);
            if (n > 0) control_buf.append(buf, static_cast<std::size_t>(n));
            std::size_t nl;
            while ((nl = control_buf.find('\n')) != std::string::npos) {
                sim.control(std::string_view(control_buf).substr(0, nl), now);
                control_buf.erase(0, nl + 1);
            }
            if (control_buf.size() > 4096) control_buf.clear();
        }
        splitter.flush_if_quiet(now, recs);
        for (const auto& rec : recs) sim.receive(rec, now);
    }
    log.event(now_s(), "stopped");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    std::string error;
    if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::cout << usage_text;
        return 0;
    }
    if (!parse_options(argc, argv, o, error)) {
        std::cerr << "scopesim: " << error << "\n" << usage_text;
        return 2;
    }
    if (o.has_control) {
        if (!send_control(o.cfg.root, o.control, error)) {
            std::cerr << "scopesim: " << error << "\n";
            return 1;
        }
        return 0;
    }

    if (o.print_status) {
        // What the telescope would report first with these options: a site
        // made before the simulator starts holds it as its last status line.
        Log quiet("/dev/null", false);
        std::cout << Sim(o.cfg, quiet, now_s()).status_now(now_s()) << "\n";
        return 0;
    }

    int ready[2] = {-1, -1};
    if (o.daemon) {
        if (pipe(ready) != 0) {
            std::perror("scopesim: pipe");
            return 1;
        }
        pid_t pid = fork();
        if (pid < 0) {
            std::perror("scopesim: fork");
            return 1;
        }
        if (pid > 0) {
            // Wait until the child has its line linked, so that a caller can
            // start the host program right away.
            ::close(ready[1]);
            std::string msg;
            char buf[256];
            ssize_t n;
            while ((n = ::read(ready[0], buf, sizeof buf)) > 0) msg.append(buf, n);
            if (msg != "ok") {
                std::cerr << "scopesim: " << (msg.empty() ? "did not start" : msg) << "\n";
                return 1;
            }
            return 0;
        }
        ::close(ready[0]);
        setsid();
    }

    Site site;
    bool ok = set_up(o.cfg, site, error);
    if (o.daemon) {
        std::string msg = ok ? "ok" : error;
        if (::write(ready[1], msg.data(), msg.size()) < 0) {
        }
        ::close(ready[1]);
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            if (null > 2) ::close(null);
        }
    }
    if (!ok) {
        if (!o.daemon) std::cerr << "scopesim: " << error << "\n";
        tear_down(site);
        return 1;
    }
    int status = run_loop(o.cfg, site);
    tear_down(site);
    return status;
}
