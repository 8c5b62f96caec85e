// The single-instance step ends the other instances of the build's names
// under this site root and nothing else: the builds that stand in for
// telelink end one another, scopelink66 only its own kind.
#include "build.h"
#include "instance.h"
#include "scratch.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A long sleep started under the given program name and site root;
// returns once it runs under that name: the pipe closes at the exec.
pid_t spawn(const std::string& program, const std::string& root) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        setenv("QOR_ROOT", root.c_str(), 1);
        execl(program.c_str(), program.c_str(), "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    char c;
    while (read(ready[0], &c, 1) < 0 && errno == EINTR) {
    }
    close(ready[0]);
    return pid;
}

bool ended(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFSIGNALED(status);
}

} // namespace

TEST(Instance, EndsOnlyOwnSiteInstancesOfTheBuildsNames) {
    qor::test::Scratch scratch{"linkinst"};
    std::filesystem::path dir = scratch.dir();
    std::string root = (dir / "site").string();
    auto as = [&](const char* name) {
        std::filesystem::create_symlink("/bin/sleep", dir / name);
        return (dir / name).string();
    };
    std::string telelink = as("telelink"), usb = as("telelinkusb"), basic = as("scopelink4"),
                s66 = as("scopelink66");
    setenv("QOR_ROOT", (root + "/").c_str(), 1);

    std::vector<pid_t> family{spawn(telelink, root), spawn(usb, root), spawn(basic, root)};
    pid_t own66 = spawn(s66, root);
    std::vector<pid_t> spared{spawn(telelink, dir / "other"), spawn(s66, dir / "other"),
                              spawn("/bin/sleep", root)};
    qlink::end_other_instances(qlink::telelink_build.instances);
    for (pid_t p : family) EXPECT_TRUE(ended(p));
    EXPECT_EQ(waitpid(own66, nullptr, WNOHANG), 0);

    qlink::end_other_instances(qlink::scopelink66_build.instances);
    EXPECT_TRUE(ended(own66));
    for (pid_t p : spared) {
        EXPECT_EQ(waitpid(p, nullptr, WNOHANG), 0);
        kill(p, SIGKILL);
        waitpid(p, nullptr, 0);
    }
    unsetenv("QOR_ROOT");
}
