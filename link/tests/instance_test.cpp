// The single-instance step ends this daemon's other instances under this
// site root and nothing else.
#include "instance.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace qlink;

namespace {

using namespace std::string_literals;

// A long sleep started under the given program name and site root.
pid_t spawn(const std::string& program, const std::string& root) {
    pid_t pid = fork();
    if (pid == 0) {
        setenv("QOR_ROOT", root.c_str(), 1);
        execl(program.c_str(), program.c_str(), "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

bool ended_by_signal(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFSIGNALED(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

} // namespace

TEST(Instance, SelectionByNameAndSiteRoot) {
    const auto env = "A=1\0QOR_ROOT=/tmp/x/\0B=2\0"s;
    EXPECT_TRUE(is_other_instance("/tmp/x/u/tarnu/mokel/telelink\0"s, env, "telelink", "/tmp/x"));
    EXPECT_TRUE(is_other_instance("telelink\0003\0"s, env, "telelink", "/tmp/x"));
    EXPECT_FALSE(is_other_instance("/u/tarnu/mokel/telelink\0"s, env, "telelink", "/tmp/y"));
    EXPECT_FALSE(is_other_instance("/u/tarnu/mokel/telelink\0"s, "B=2\0"s, "telelink", "/tmp/x"));
    EXPECT_TRUE(is_other_instance("/u/tarnu/mokel/telelink\0"s, "B=2\0"s, "telelink", ""));
    EXPECT_FALSE(is_other_instance("grep\0telelink\0"s, env, "telelink", "/tmp/x"));
    EXPECT_FALSE(is_other_instance("/u/tarnu/mokel/scopelink66\0"s, env, "telelink", "/tmp/x"));
    EXPECT_FALSE(is_other_instance("/u/tarnu/mokel/telelinkusb\0"s, env, "telelink", "/tmp/x"));
    EXPECT_FALSE(is_other_instance(""s, env, "telelink", "/tmp/x"));
}

TEST(Instance, EndsOnlyOwnSiteInstances) {
    char tmpl[] = "/tmp/linkinst.XXXXXX";
    std::filesystem::path dir = mkdtemp(tmpl);
    std::string root = (dir / "site").string(), other = (dir / "other").string();
    std::string sleeper = (dir / "telelink").string();
    std::filesystem::create_symlink("/bin/sleep", sleeper);
    setenv("QOR_ROOT", root.c_str(), 1);

    pid_t ours = spawn(sleeper, root);
    pid_t theirs = spawn(sleeper, other);
    pid_t plain = spawn("/bin/sleep", root);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // let them exec
    end_other_instances("telelink");

    EXPECT_TRUE(ended_by_signal(ours));
    EXPECT_EQ(kill(theirs, 0), 0);
    EXPECT_EQ(kill(plain, 0), 0);
    for (pid_t p : {theirs, plain}) {
        kill(p, SIGKILL);
        waitpid(p, nullptr, 0);
    }
    unsetenv("QOR_ROOT");
    std::filesystem::remove_all(dir);
}
