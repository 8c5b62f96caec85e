#include "instance.h"

#include "files.h"
#include "site.h"

#include <csignal>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace qlink {

namespace {

std::string_view root_of(std::string_view environ) {
    constexpr std::string_view key = "QOR_ROOT=";
    std::size_t pos = 0;
    while (pos < environ.size()) {
        std::size_t end = environ.find('\0', pos);
        if (end == std::string_view::npos) end = environ.size();
        std::string_view entry = environ.substr(pos, end - pos);
        if (entry.substr(0, key.size()) == key) {
            std::string_view root = entry.substr(key.size());
            while (!root.empty() && root.back() == '/') root.remove_suffix(1);
            return root;
        }
        pos = end + 1;
    }
    return {};
}

} // namespace

bool is_other_instance(std::string_view cmdline, std::string_view environ,
                       std::span<const char* const> names, std::string_view own_root) {
    std::string_view argv0 = cmdline.substr(0, std::min(cmdline.size(), cmdline.find('\0')));
    std::size_t slash = argv0.rfind('/');
    if (slash != std::string_view::npos) argv0.remove_prefix(slash + 1);
    if (argv0.empty() || root_of(environ) != own_root) return false;
    for (const char* name : names)
        if (argv0 == name) return true;
    return false;
}

void end_other_instances(std::span<const char* const> names) {
    const pid_t self = getpid();
    const std::string own_root = qor::site_root();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string pid_text = entry.path().filename();
        if (pid_text.find_first_not_of("0123456789") != std::string::npos) continue;
        pid_t pid = static_cast<pid_t>(std::stol(pid_text));
        if (pid == self) continue;
        // Processes of other accounts do not let us read their environment;
        // they cannot be ours.
        auto cmdline = qor::read_file(entry.path() / "cmdline");
        auto environ = qor::read_file(entry.path() / "environ");
        if (!cmdline || !environ) continue;
        if (is_other_instance(*cmdline, *environ, names, own_root)) kill(pid, SIGTERM);
    }
}

} // namespace qlink
