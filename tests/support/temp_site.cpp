#include "temp_site.h"

#include "files.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qor::test {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> env(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr) return std::nullopt;
    return std::string(v);
}

void restore_env(const char* name, const std::optional<std::string>& value) {
    if (value) {
        setenv(name, value->c_str(), 1);
    } else {
        unsetenv(name);
    }
}

// Processes of ours whose environment holds exactly this QOR_ROOT.
std::vector<pid_t> site_processes(const std::string& root) {
    std::vector<pid_t> found;
    const std::string wanted = "QOR_ROOT=" + root;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        pid_t pid = std::atoi(name.c_str());
        if (pid == getpid()) continue;
        auto environ_text = read_file("/proc/" + name + "/environ");
        if (!environ_text) continue;
        std::size_t pos = 0;
        while (pos < environ_text->size()) {
            std::size_t end = environ_text->find('\0', pos);
            if (end == std::string::npos) end = environ_text->size();
            if (environ_text->compare(pos, end - pos, wanted) == 0) {
                found.push_back(pid);
                break;
            }
            pos = end + 1;
        }
    }
    return found;
}

void reap(std::vector<pid_t>& children) {
    std::vector<pid_t> left;
    for (pid_t pid : children) {
        if (waitpid(pid, nullptr, WNOHANG) == 0) left.push_back(pid);
    }
    children = left;
}

} // namespace

TempSite::TempSite() : TempSite(SiteOptions{}) {}

TempSite::TempSite(const SiteOptions& options) {
    std::string base = env("TMPDIR").value_or("/tmp");
    std::string dir = base + "/qorsite.XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        error_ = "cannot make a temporary directory in " + base;
        return;
    }
    root_ = dir;
    auto made = qor::run_capture(
        {"bash", QOR_SOURCE_DIR "/scripts/make-site", root_, QOR_BINARY_DIR}, 1 << 20);
    if (made.status != 0) {
        error_ = "make-site failed (" + std::to_string(made.status) + "): " + made.out;
        return;
    }
    old_root_ = env("QOR_ROOT");
    old_path_ = env("PATH");
    setenv("QOR_ROOT", root_.c_str(), 1);
    std::string path = root_ + "/bin";
    if (old_path_ && !old_path_->empty()) path += ":" + *old_path_;
    setenv("PATH", path.c_str(), 1);
    set_key("sim.camera.maxside", std::to_string(options.frame_side));
    set_key("sim.camera.readout", std::to_string(options.readout_seconds));
    ok_ = true;
}

TempSite::~TempSite() {
    if (root_.empty()) return;
    stop_all();
    if (ok_) {
        restore_env("QOR_ROOT", old_root_);
        restore_env("PATH", old_path_);
    }
    std::error_code ec;
    fs::remove_all(root_, ec);
}

std::string TempSite::path(std::string_view absolute) const {
    return root_ + std::string(absolute);
}

std::string TempSite::tool(std::string_view name) const {
    return root_ + "/u/tarnu/mokel/" + std::string(name);
}

std::optional<std::string> TempSite::key(std::string_view name) const {
    if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
    return read_file(root_ + "/var/camdb/" + std::string(name));
}

void TempSite::set_key(std::string_view name, std::string_view value) const {
    if (name.empty() || name.find('/') != std::string_view::npos) return;
    replace_file(root_ + "/var/camdb/" + std::string(name), value);
}

std::vector<std::string> TempSite::log_lines(std::string_view stand_in) const {
    std::vector<std::string> lines;
    auto text = read_file(root_ + "/var/log/" + std::string(stand_in) + ".log");
    if (!text) return lines;
    std::size_t pos = 0;
    while (pos < text->size()) {
        std::size_t end = text->find('\n', pos);
        if (end == std::string::npos) end = text->size();
        lines.push_back(text->substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

bool TempSite::log_calls_to(const std::string& program_path) const {
    std::error_code ec;
    fs::copy_file(root_ + "/bin/beep", program_path, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

pid_t TempSite::start(const Argv& argv, const std::string& output_file) {
    if (argv.empty()) return -1;
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        if (in >= 0) dup2(in, STDIN_FILENO);
        if (!output_file.empty()) {
            int out = open(output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
            if (out >= 0) {
                dup2(out, STDOUT_FILENO);
                dup2(out, STDERR_FILENO);
            }
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    children_.push_back(pid);
    return pid;
}

void TempSite::stop_all() {
    if (root_.empty()) return;
    for (pid_t pid : site_processes(root_)) kill(pid, SIGTERM);
    for (pid_t pid : children_) kill(pid, SIGTERM);
    wait_for(
        [&] {
            reap(children_);
            return children_.empty() && site_processes(root_).empty();
        },
        std::chrono::seconds(1));
    for (pid_t pid : site_processes(root_)) kill(pid, SIGKILL);
    for (pid_t pid : children_) kill(pid, SIGKILL);
    for (pid_t pid : children_) waitpid(pid, nullptr, 0);
    children_.clear();
    // Detached processes are reaped by init; give them a moment to go.
    wait_for([&] { return site_processes(root_).empty(); }, std::chrono::milliseconds(500));
}

bool TempSite::wait_for(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace qor::test
