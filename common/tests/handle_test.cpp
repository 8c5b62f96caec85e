// The owners close what they hold once: the far end of a pipe sees the end
// of its data exactly when the last owner goes, and a moved-from owner
// closes nothing.
#include "handle.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

struct Pipe {
    int read_end = -1;
    int write_end = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) == 0) read_end = fds[0], write_end = fds[1];
    }
    ~Pipe() {
        if (read_end >= 0) close(read_end);
    }
};

// Everything the pipe holds once every writer has gone; blocks until then.
std::string drain(int fd) {
    std::string data;
    char buf[64];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) data.append(buf, static_cast<std::size_t>(n));
    return data;
}

bool is_open(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

} // namespace

// Each owner closes what it holds exactly once, when the last owner goes;
// a moved-from owner closes nothing, and an assignment closes what the
// target held.
TEST(Handle, FdClosesOnceWhenItsLastOwnerGoes) {
    Pipe a, b;
    ASSERT_GE(a.write_end, 0);
    ASSERT_GE(b.write_end, 0);
    {
        qor::Fd first(a.write_end);
        qor::Fd second(std::move(first));
        EXPECT_EQ(write(second.get(), "ab", 2), 2);
        second = qor::Fd(b.write_end);
        EXPECT_EQ(drain(a.read_end), "ab");
        EXPECT_TRUE(second.close());
        EXPECT_FALSE(second.close());
    }
    EXPECT_FALSE(is_open(b.write_end));
}

TEST(Handle, FileFlushesAndClosesOnceWhenItsLastOwnerGoes) {
    Pipe p;
    ASSERT_GE(p.write_end, 0);
    {
        qor::File first(fdopen(p.write_end, "w"));
        ASSERT_TRUE(first);
        std::fputs("buffered", first.get());
        qor::File second;
        second = std::move(first);
    }
    EXPECT_EQ(drain(p.read_end), "buffered");
    EXPECT_FALSE(is_open(p.write_end));
}
