#include "run.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
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

namespace {

// In the child: no descriptor of ours (the serial port, pipes, logs) leaks
// into the program, then exec. Never returns.
[[noreturn]] void exec_child(const Argv& argv) {
    close_range(3, ~0U, 0);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    signal(SIGPIPE, SIG_DFL);
    execvp(args[0], args.data());
    _exit(127);
}

int wait_status(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 127;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 127;
}

} // namespace

int run(const Argv& argv) {
    if (argv.empty()) return 127;
    pid_t pid = fork();
    if (pid < 0) return 127;
    if (pid == 0) exec_child(argv);
    return wait_status(pid);
}

Captured run_capture(const Argv& argv, std::size_t max_bytes) {
    Captured result;
    if (argv.empty()) return result;
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
        exec_child(argv);
    }
    close(fds[1]);
    result.out.resize(max_bytes);
    std::size_t got = 0;
    while (got < max_bytes) {
        ssize_t n = read(fds[0], result.out.data() + got, max_bytes - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    result.out.resize(got);
    close(fds[0]);
    result.status = wait_status(pid);
    return result;
}

bool run_background(const Argv& argv) {
    if (argv.empty()) return false;
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        // Fork twice so that the program is nobody's child to wait for.
        setsid();
        pid_t grandchild = fork();
        if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) {
            dup2(devnull, STDIN_FILENO);
            if (devnull != STDIN_FILENO) close(devnull);
        }
        exec_child(argv);
    }
    return wait_status(pid) == 0;
}

} // namespace qor
