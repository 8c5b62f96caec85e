// The single-instance step ends this daemon's other instances under this
// site root and nothing else.
#include "instance.h"
#include "scratch.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

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

} // namespace

TEST(Instance, EndsOnlyOwnSiteInstances) {
    qor::test::Scratch scratch{"linkinst"};
    std::filesystem::path dir = scratch.dir();
    std::string root = (dir / "site").string(), sleeper = (dir / "telelink").string();
    std::filesystem::create_symlink("/bin/sleep", sleeper);
    std::filesystem::create_symlink("/bin/sleep", dir / "telelinkusb");
    setenv("QOR_ROOT", (root + "/").c_str(), 1);

    pid_t ours = spawn(sleeper, root);
    std::vector<pid_t> spared{spawn(sleeper, dir / "other"), spawn("/bin/sleep", root),
                              spawn(dir / "telelinkusb", root)};
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // let them exec
    qlink::end_other_instances("telelink");

    int status = 0;
    ASSERT_EQ(waitpid(ours, &status, 0), ours);
    EXPECT_TRUE(WIFSIGNALED(status));
    for (pid_t p : spared) {
        EXPECT_EQ(waitpid(p, nullptr, WNOHANG), 0);
        kill(p, SIGKILL);
        waitpid(p, nullptr, 0);
    }
    unsetenv("QOR_ROOT");
}
