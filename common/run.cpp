#include "run.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qor {

Argv command_words(std::string_view line) {
    Argv words;
    std::string word;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\n') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

double default_time_limit() {
    static const double limit = [] {
        const char* text = std::getenv("QOR_TIME_LIMIT");
        if (text == nullptr) return 5.0;
        char* end = nullptr;
        double v = std::strtod(text, &end);
        return end != text && std::isfinite(v) && v > 0 ? v : 5.0;
    }();
    return limit;
}

namespace {

using Clock = std::chrono::steady_clock;

// Time left to the deadline in whole milliseconds (rounded up, at most one
// second so that a long wait still looks at the child now and then); -1 for
// no deadline.
int millis_left(Clock::time_point deadline, bool limited) {
    if (!limited) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1000));
}

// In the child: its own process group (so that a hung program can be ended
// with everything it started), no descriptor of ours (the serial port,
// pipes, logs) leaks into the program, then exec. Never returns.
[[noreturn]] void exec_child(const Argv& argv, bool own_group, int report = -1) {
    if (own_group) setpgid(0, 0);
    // Keep only the (close-on-exec) pipe that reports a failed exec.
    if (report > 3) close_range(3, static_cast<unsigned>(report) - 1, 0);
    close_range(report >= 3 ? static_cast<unsigned>(report) + 1 : 3, ~0U, 0);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    signal(SIGPIPE, SIG_DFL);
    execvp(args[0], args.data());
    if (report >= 0) {
        int err = errno;
        ssize_t n = write(report, &err, sizeof err);
        (void)n;
    }
    _exit(127);
}

int decode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 127;
}

// The child's exit status once it has ended, or nothing while it runs.
std::optional<int> reaped(pid_t pid, bool block) {
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, block ? 0 : WNOHANG);
        if (r == pid) return decode(status);
        if (r == 0) return std::nullopt;
        if (errno != EINTR) return 127;
    }
}

// Waits for the child until the deadline. A pidfd lets us sleep until the
// child ends instead of looking every few milliseconds.
std::optional<int> wait_until(pid_t pid, Clock::time_point deadline, bool limited) {
    if (!limited) return reaped(pid, true);
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    std::optional<int> status;
    for (;;) {
        if ((status = reaped(pid, false))) break;
        int ms = millis_left(deadline, true);
        if (ms <= 0) break;
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            poll(&p, 1, ms);
        } else {
            usleep(static_cast<useconds_t>(std::min(ms, 10)) * 1000);
        }
    }
    if (pidfd >= 0) close(pidfd);
    return status;
}

// Waits for the child; past the deadline ends its process group: SIGTERM,
// a short grace, then SIGKILL.
int finish(pid_t pid, Clock::time_point deadline, bool limited, bool& timed_out) {
    if (auto status = wait_until(pid, deadline, limited)) return *status;
    timed_out = true;
    kill(-pid, SIGTERM);
    kill(pid, SIGTERM);
    if (wait_until(pid, Clock::now() + std::chrono::milliseconds(200), true)) {
        return timed_out_status;
    }
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    reaped(pid, true);
    return timed_out_status;
}

Clock::time_point deadline_after(double seconds, bool& limited) {
    limited = std::isfinite(seconds);
    if (!limited) return Clock::time_point::max();
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(std::max(seconds, 0.0)));
}

} // namespace

int run(const Argv& argv, double limit_seconds) {
    if (argv.empty()) return 127;
    bool limited = false;
    auto deadline = deadline_after(limit_seconds, limited);
    pid_t pid = fork();
    if (pid < 0) return 127;
    if (pid == 0) exec_child(argv, limited);
    if (limited) setpgid(pid, pid); // also here, so a kill can never miss the group
    bool timed_out = false;
    return finish(pid, deadline, limited, timed_out);
}

Captured run_capture(const Argv& argv, std::size_t max_bytes, double limit_seconds) {
    Captured result;
    if (argv.empty()) return result;
    bool limited = false;
    auto deadline = deadline_after(limit_seconds, limited);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return result;
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return result;
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        exec_child(argv, limited);
    }
    if (limited) setpgid(pid, pid);
    close(fds[1]);
    result.out.resize(max_bytes);
    std::size_t got = 0;
    while (got < max_bytes) {
        pollfd p{fds[0], POLLIN, 0};
        int ms = millis_left(deadline, limited);
        if (limited && ms <= 0) break;
        int ready = poll(&p, 1, ms);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        ssize_t n = read(fds[0], result.out.data() + got, max_bytes - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    result.out.resize(got);
    close(fds[0]);
    result.status = finish(pid, deadline, limited, result.timed_out);
    return result;
}

bool run_background(const Argv& argv, const std::string& log) {
    if (argv.empty()) return false;
    // The program writes errno into this pipe when exec fails; a successful
    // exec closes it empty. So a program that cannot start is seen, not guessed.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (pid == 0) {
        // Fork twice so that the program is nobody's child to wait for.
        close(report[0]);
        setsid();
        pid_t grandchild = fork();
        if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) {
            dup2(devnull, STDIN_FILENO);
            if (devnull != STDIN_FILENO) close(devnull);
        }
        if (!log.empty()) {
            int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
            if (out < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(out, STDERR_FILENO) < 0) {
                int err = errno;
                (void)!write(report[1], &err, sizeof err);
                _exit(127);
            }
        }
        exec_child(argv, false, report[1]);
    }
    close(report[1]);
    bool forked = reaped(pid, true) == 0;
    int err = 0;
    ssize_t n;
    while ((n = read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (!forked) return false;
    if (n == static_cast<ssize_t>(sizeof err)) {
        errno = err;
        return false;
    }
    return true;
}

} // namespace qor
