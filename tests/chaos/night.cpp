// Running a chaos night: the site, the simulators, qorobs started (and
// started again) with its prompts answered, and the schedule's faults put
// in as their moments come.
#include "clock.h"
#include "control.h"
#include "driver.h"
#include "files.h"
#include "record.h"
#include "temp_site.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qor::chaos {

namespace {

namespace fs = std::filesystem;

const char* const faketime_library = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
constexpr double trigger_limit = 150; // a trigger not seen by then: the fault goes in anyway

double wall() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double monotonic() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

int count_lines_starting(const std::string& text, const char* prefix) {
    int n = text.rfind(prefix, 0) == 0;
    return n + count_of(text, std::string("\n") + prefix);
}

// What the harness watches for its triggers.
struct Seen {
    int filter_posts = 0, move_posts = 0, move_replies = 0, claims = 0, last_wants = 0,
        lines_done = 0;
    std::string exposure; // begin stamp of the newest exposure, when it is running
};

// A trigger is seen when its count has grown since the step was armed.
bool came(Trigger t, const Seen& now, const Seen& base) {
    switch (t) {
    case Trigger::now:
        return true;
    case Trigger::filter_posted:
        return now.filter_posts > base.filter_posts;
    case Trigger::move_posted:
        return now.move_posts > base.move_posts;
    case Trigger::move_replied:
        return now.move_replies > base.move_replies;
    case Trigger::exposing:
        return !now.exposure.empty() && now.exposure != base.exposure;
    case Trigger::frame_claimed:
        return now.claims > base.claims;
    case Trigger::last_frame_wanted:
        return now.last_wants > base.last_wants;
    case Trigger::line_done:
        return now.lines_done > base.lines_done;
    }
    return false;
}

class Night {
  public:
    Night(const Schedule& schedule, const Options& options)
        : site_(test::SiteOptions{64, 1}), schedule_(schedule), opt_(options) {}

    ~Night() {
        if (mounted_) umount2(disk_.c_str(), MNT_DETACH);
    }

    Table run();

  private:
    bool set_up();
    void start_driver();
    void kill_driver();
    void reap_driver(double now);
    void answer_prompts();
    Seen seen();
    void inject(const Step& s, bool trigger_seen, double now);
    void restore(Fault f);
    void trace(const std::string& what);
    std::string console() const { return read_file(console_path_).value_or(""); }
    std::string daemon_log() const {
        return read_file(site_.path("/u/tarnu/qorlib/telelink.log")).value_or("");
    }

    test::TempSite site_;
    Schedule schedule_;
    Options opt_;
    Record rec_;
    double t0_ = wall();
    std::string console_path_, faketime_path_, disk_, batch_path_, ballast_, full_flag_;
    bool mounted_ = false, fake_clock_ = false;
    std::string shim_;
    pid_t driver_ = -1;
    int answers_ = -1; // the driver's standard input
    int answered_[3] = {0, 0, 0};
    bool finished_ = false;
    double restart_at_ = -1;
    std::vector<std::pair<double, Fault>> restores_;
};

bool Night::set_up() {
    if (!site_.ok()) {
        rec_.notes.push_back("no site: " + site_.error());
        return false;
    }
    const std::string& root = site_.root();
    console_path_ = root + "/console.out";
    faketime_path_ = root + "/faketime";
    replace_file(faketime_path_, "+0\n");
    fake_clock_ = access(faketime_library, R_OK) == 0;
    if (!fake_clock_) rec_.notes.push_back("no libfaketime: the clock is never stepped");

    // The batch file lives on a small disk of its own, so it can be filled.
    disk_ = root + "/batchdisk";
    fs::create_directory(disk_);
    mounted_ = mount("tmpfs", disk_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k") == 0;
    if (!mounted_) {
        // Without a mount, a preloaded shim fails the driver's writes there.
        shim_ = QOR_CHAOS_SHIM;
        rec_.notes.push_back(std::string("no tmpfs (") + std::strerror(errno) +
                             "): a full disk is played by " + shim_);
    }
    ballast_ = disk_ + "/ballast";
    full_flag_ = root + "/disk-full";
    batch_path_ = disk_ + "/night.batch";
    rec_.batch = opt_.batch;
    std::string text;
    for (const auto& l : opt_.batch) text += l;
    if (!replace_file(batch_path_, text)) {
        rec_.notes.push_back("cannot write the batch file");
        return false;
    }

    rec_.start_ra = 2;
    rec_.start_dec = 10;
    rec_.start_filter = 1;
    int started = site_.run({"scopesim", "--daemon", "--status-interval", "1", "--slew-rate", "20",
                             "--filter-time", "1", "--ti-interval", "20", "--ra", "2", "--dec",
                             "10", "--filter", "1"});
    if (started != 0 ||
        !test::TempSite::wait_for([&] { return fs::exists(site_.path("/dev/ttyS0")); },
                                  std::chrono::seconds(10))) {
        rec_.notes.push_back("the simulated telescope did not start");
        return false;
    }
    return true;
}

void Night::trace(const std::string& what) {
    if (opt_.trace) std::fprintf(stderr, "[chaos %6.1f] %s\n", wall() - t0_, what.c_str());
}

void Night::start_driver() {
    restart_at_ = -1;
    Run r;
    r.console_from = console().size();
    r.obslog_from = read_file(site_.path("/u/tarnu/qorlib/obs.log")).value_or("").size();
    r.started = wall();
    rec_.runs.push_back(r);
    std::fill(std::begin(answered_), std::end(answered_), 0);

    // The driver and everything it starts live on the host clock of the
    // faketime file; the telescope keeps the true time, as a separate computer would.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string v = *e;
        if (v.rfind("LD_PRELOAD=", 0) == 0 || v.rfind("FAKETIME", 0) == 0 ||
            v.rfind("ASAN_OPTIONS=", 0) == 0) {
            continue;
        }
        env.push_back(v);
    }
    std::string preload = shim_;
    if (fake_clock_) preload += (preload.empty() ? "" : ":") + std::string(faketime_library);
    if (!preload.empty()) env.push_back("LD_PRELOAD=" + preload);
    env.push_back("FAKETIME_TIMESTAMP_FILE=" + faketime_path_);
    env.push_back("FAKETIME_NO_CACHE=1");
    env.push_back("FAKETIME_DONT_FAKE_MONOTONIC=1");
    // A sanitizer build wants its runtime first; the preload comes before it.
    const char* asan = std::getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") +
                  "verify_asan_link_order=0");
    env.push_back("QOR_CHAOS_FULL_DIR=" + disk_);
    env.push_back("QOR_CHAOS_FULL_FLAG=" + full_flag_);
    std::vector<char*> envp;
    for (auto& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string program = site_.tool("qorobs");
    std::vector<char*> argv{program.data(), batch_path_.data(), nullptr};

    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(p[0], STDIN_FILENO);
        int out = open(console_path_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        if (chdir(site_.root().c_str()) != 0) _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(p[0]);
    driver_ = pid;
    answers_ = p[1];
    trace("qorobs started (run " + std::to_string(rec_.runs.size()) + ")");
}

void Night::kill_driver() {
    if (driver_ <= 0) return;
    kill(driver_, SIGKILL);
    waitpid(driver_, nullptr, 0);
    driver_ = -1;
    close(answers_);
    answers_ = -1;
    rec_.runs.back().killed = true;
}

void Night::reap_driver(double now) {
    if (driver_ <= 0 || waitpid(driver_, nullptr, WNOHANG) != driver_) return;
    driver_ = -1;
    close(answers_);
    answers_ = -1;
    std::string out = console().substr(rec_.runs.back().console_from);
    if (out.find("finish") != std::string::npos) {
        finished_ = true;
        trace("qorobs finished the night");
        return;
    }
    ++rec_.ended_early;
    auto tail = out.substr(out.size() > 200 ? out.size() - 200 : 0);
    rec_.notes.push_back("run " + std::to_string(rec_.runs.size()) + " ended by itself: " + tail);
    trace("qorobs ended by itself");
    if (rec_.ended_early <= opt_.max_restarts) restart_at_ = now + 1;
}

// An observer at the console: the night's observers on the first run, the
// begin number 1 (marked lines are skipped), and re_do when asked.
void Night::answer_prompts() {
    if (driver_ <= 0 || rec_.runs.empty()) return;
    std::string out = console().substr(rec_.runs.back().console_from);
    static const char* const prompts[] = {"input observers: ", "Begin number: ", "what can I do"};
    static const char* const answers[] = {"Chaos Night\n", "1\n", "r\n"};
    for (int i = 0; i < 3; ++i) {
        for (int n = count_of(out, prompts[i]); answered_[i] < n; ++answered_[i]) {
            if (write(answers_, answers[i], std::strlen(answers[i])) < 0) break;
            if (i == 2) {
                ++rec_.prompts;
                trace("operator prompt answered re_do");
            }
        }
    }
}

Seen Night::seen() {
    Seen s;
    auto log = read_file(site_.path("/u/tarnu/qorlib/obs.log")).value_or("");
    s.filter_posts = count_lines_starting(log, "filt_");
    s.move_posts = count_lines_starting(log, "move_");
    auto begin = site_.key("imageid.exposures.0.exp_begin").value_or("");
    if (begin > site_.key("imageid.exposures.0.exp_end").value_or("")) s.exposure = begin;
    Record now;
    now.batch = rec_.batch;
    now.console = console();
    // The driver prints each reply it accepts behind a row of stars.
    for (auto at = now.console.find("\n************* "); at != std::string::npos;
         at = now.console.find("\n************* ", at + 1)) {
        s.move_replies += now.console.compare(at + 24, 4, "move") == 0;
    }
    now.runs = rec_.runs;
    for (const auto& e : worked(now).events) {
        int frames = std::atoi(qobs::words_of(rec_.batch[e.line])[3].c_str());
        bool last = e.q == frames - 1;
        if (e.kind == FrameEvent::claim) {
            ++s.claims;
            s.lines_done += last;
        } else {
            s.last_wants += last;
        }
    }
    return s;
}

void Night::inject(const Step& s, bool trigger_seen, double now) {
    Injected i{s, now, console().size(), daemon_log().size(), trigger_seen};
    rec_.injected.push_back(i);
    trace(describe(s) + (trigger_seen ? "" : " (trigger not seen)"));
    std::string error;
    switch (s.fault) {
    case Fault::kill_driver:
        kill_driver();
        restart_at_ = now + 1;
        break;
    case Fault::unplug:
        if (!scope::send_control(site_.root(), "unplug " + std::to_string(int(s.lasts)), error)) {
            rec_.notes.push_back("unplug: " + error);
        }
        break;
    case Fault::hang_exp3:
        site_.set_key("sim.hang.exp3", "1");
        restores_.push_back({now + s.lasts, s.fault});
        break;
    case Fault::hang_dbshow:
    case Fault::hang_obsnum:
        site_.set_key("sim.hang.dbshow",
                      s.fault == Fault::hang_dbshow ? "1" : "setups.variables.obsnum");
        restores_.push_back({now + s.lasts, s.fault});
        break;
    case Fault::junk_ss:
        site_.set_key("setups.qor.ss.value", "23");
        break;
    case Fault::junk_pp:
        site_.set_key("setups.qor.pp.value", "23");
        break;
    case Fault::clock_back:
        replace_file(faketime_path_, "-20\n");
        break;
    case Fault::clock_forward:
        replace_file(faketime_path_, "+0\n");
        break;
    case Fault::disk_full:
        if (mounted_) {
            // Whole pages until the file system says no.
            int fd = open(ballast_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
            std::string page(4096, 'x');
            while (fd >= 0 && write(fd, page.data(), page.size()) > 0) {
            }
            if (fd >= 0) close(fd);
        } else {
            replace_file(full_flag_, "full\n");
        }
        restores_.push_back({now + s.lasts, s.fault});
        break;
    }
}

void Night::restore(Fault f) {
    std::error_code ec;
    switch (f) {
    case Fault::hang_exp3:
        fs::remove(site_.root() + "/var/camdb/sim.hang.exp3", ec);
        break;
    case Fault::hang_dbshow:
    case Fault::hang_obsnum:
        fs::remove(site_.root() + "/var/camdb/sim.hang.dbshow", ec);
        break;
    case Fault::disk_full:
        fs::remove(ballast_, ec);
        fs::remove(full_flag_, ec);
        break;
    default:
        break;
    }
    trace("restored after: " + std::string(f == Fault::disk_full ? "disk full" : "hang"));
}

Table Night::run() {
    if (!set_up()) {
        Table t;
        t.notes = rec_.notes;
        t.never_injected = static_cast<int>(schedule_.size());
        return t;
    }
    rec_.a_ep = qobs::epoch_of_date(asctime_text(std::time(nullptr)));
    auto old_pipe = std::signal(SIGPIPE, SIG_IGN);
    start_driver();

    const double deadline = wall() + opt_.night_limit;
    std::size_t next = 0;
    bool armed = false;
    double armed_at = 0, fire_at = -1;
    bool seen_trigger = true;
    Seen base;
    for (;;) {
        double now = wall();
        reap_driver(now);
        if (now > deadline) {
            rec_.notes.push_back("the night was given up after its limit");
            break;
        }
        for (auto r = restores_.begin(); r != restores_.end();) {
            if (now >= r->first) {
                restore(r->second);
                r = restores_.erase(r);
            } else {
                ++r;
            }
        }
        if (finished_ || (driver_ <= 0 && restart_at_ < 0)) {
            if (restores_.empty()) break;
        } else if (driver_ <= 0 && restart_at_ >= 0 && now >= restart_at_) {
            start_driver();
        }
        answer_prompts();

        if (next < schedule_.size() && !finished_) {
            const Step& s = schedule_[next];
            if (!armed) {
                base = seen();
                armed = true;
                armed_at = now;
                fire_at = -1;
            }
            if (fire_at < 0) {
                Seen n = s.when == Trigger::now ? Seen{} : seen();
                bool hit = s.when == Trigger::now || came(s.when, n, base);
                if (hit) {
                    fire_at = now + s.delay;
                    seen_trigger = true;
                } else if (now - armed_at > trigger_limit) {
                    fire_at = now;
                    seen_trigger = false;
                }
            }
            if (fire_at >= 0 && now >= fire_at) {
                inject(s, seen_trigger, now);
                ++next;
                armed = false;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::size_t i = next; i < schedule_.size(); ++i) {
        rec_.notes.push_back("never injected: " + describe(schedule_[i]));
    }
    // Everything back as it was, and time for the last messages.
    for (const auto& r : restores_) restore(r.second);
    replace_file(faketime_path_, "+0\n");
    std::string ignored;
    scope::send_control(site_.root(), "plug", ignored);
    std::this_thread::sleep_for(std::chrono::seconds(5));
    kill_driver();
    std::signal(SIGPIPE, old_pipe);

    rec_.console = console();
    rec_.daemon_log = daemon_log();
    rec_.obs_log = read_file(site_.path("/u/tarnu/qorlib/obs.log")).value_or("");
    rec_.received_log = read_file(site_.root() + "/var/scope/received.log").value_or("");
    rec_.scope_log = read_file(site_.root() + "/var/scope/scope.log").value_or("");
    rec_.camera_log = read_file(site_.root() + "/var/log/camera.log").value_or("");
    rec_.final_batch = read_file(batch_path_).value_or("");
    rec_.filter_table = read_file(site_.path("/u/tarnu/FILTER")).value_or("");
    rec_.mono_to_real = wall() - monotonic();
    if (!opt_.keep_logs.empty()) {
        std::error_code ec;
        fs::create_directories(opt_.keep_logs, ec);
        for (const auto& [name, text] : {std::pair{"console.out", &rec_.console},
                                         {"telelink.log", &rec_.daemon_log},
                                         {"obs.log", &rec_.obs_log},
                                         {"received.log", &rec_.received_log},
                                         {"scope.log", &rec_.scope_log},
                                         {"camera.log", &rec_.camera_log},
                                         {"night.batch", &rec_.final_batch}}) {
            replace_file(opt_.keep_logs + "/" + name, *text);
        }
        std::string runs;
        for (const auto& r : rec_.runs) {
            runs += std::to_string(r.started) + (r.killed ? " killed\n" : "\n");
        }
        replace_file(opt_.keep_logs + "/runs", runs);
    }
    Table t = judge(rec_);
    t.never_injected = static_cast<int>(schedule_.size() - next);
    return t;
}

} // namespace

Table run_night(const Schedule& schedule, const Options& options) {
    Night night(schedule, options);
    return night.run();
}

} // namespace qor::chaos
