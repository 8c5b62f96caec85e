// The owners close what they hold once: the far end of a pipe sees the end
// of its data exactly when the last owner goes, and a moved-from owner
// closes nothing.
#include "handle.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <type_traits>
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

static_assert(!std::is_copy_constructible_v<qor::Fd> && !std::is_copy_assignable_v<qor::Fd>);
static_assert(std::is_nothrow_move_constructible_v<qor::Fd>);
static_assert(!std::is_copy_constructible_v<qor::File> && !std::is_copy_assignable_v<qor::File>);
static_assert(std::is_nothrow_move_constructible_v<qor::File>);

TEST(Handle, FdClosesWhenItsLastOwnerGoes) {
    Pipe p;
    ASSERT_GE(p.write_end, 0);
    {
        qor::Fd first(p.write_end);
        qor::Fd second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(first.get(), -1);
        ASSERT_TRUE(second);
        EXPECT_EQ(write(second.get(), "ab", 2), 2);
        // first goes here without closing; second after it.
    }
    EXPECT_EQ(drain(p.read_end), "ab");
    EXPECT_FALSE(is_open(p.write_end));
}

TEST(Handle, FdMoveAssignmentClosesWhatTheTargetHeld) {
    Pipe a, b;
    ASSERT_GE(a.write_end, 0);
    ASSERT_GE(b.write_end, 0);
    qor::Fd target(a.write_end);
    target = qor::Fd(b.write_end);
    EXPECT_EQ(drain(a.read_end), "");
    EXPECT_EQ(target.get(), b.write_end);
    EXPECT_TRUE(is_open(b.write_end));
}

TEST(Handle, FdCloseReportsAndHappensOnce) {
    Pipe p;
    ASSERT_GE(p.write_end, 0);
    qor::Fd fd(p.write_end);
    EXPECT_TRUE(fd.close());
    EXPECT_FALSE(fd);
    EXPECT_FALSE(fd.close()); // nothing left to close
    EXPECT_FALSE(is_open(p.write_end));
    EXPECT_FALSE(qor::Fd().close());
}

TEST(Handle, FdReleaseHandsTheDescriptorOn) {
    Pipe p;
    ASSERT_GE(p.write_end, 0);
    int raw = -1;
    {
        qor::Fd fd(p.write_end);
        raw = fd.release();
    }
    EXPECT_EQ(raw, p.write_end);
    EXPECT_TRUE(is_open(raw));
    close(raw);
}

TEST(Handle, FileFlushesAndClosesWhenItsLastOwnerGoes) {
    Pipe p;
    ASSERT_GE(p.write_end, 0);
    {
        qor::File first(fdopen(p.write_end, "w"));
        ASSERT_TRUE(first);
        std::fputs("buffered", first.get());
        qor::File second;
        second = std::move(first);
        EXPECT_FALSE(first);
        EXPECT_TRUE(second);
    }
    EXPECT_EQ(drain(p.read_end), "buffered");
    EXPECT_FALSE(is_open(p.write_end));
}

TEST(Handle, FileCloseReportsAndHappensOnce) {
    Pipe p;
    ASSERT_GE(p.write_end, 0);
    qor::File f(fdopen(p.write_end, "w"));
    ASSERT_TRUE(f);
    std::fputs("x", f.get());
    EXPECT_TRUE(f.close());
    EXPECT_FALSE(f);
    EXPECT_FALSE(f.close());
    EXPECT_EQ(drain(p.read_end), "x");
}

TEST(Handle, OpenFileIsEmptyWhenTheFileCannotBeOpened) {
    errno = 0;
    const qor::File f = qor::open_file("/nonexistent-folder-of-handle-test/x", "r");
    EXPECT_FALSE(f);
    EXPECT_EQ(errno, ENOENT);
}
