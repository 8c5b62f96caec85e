// The real port on a pseudo-terminal: the speed the BAUD file sets, records
// that go out whole when the line's queue is full, and a hang-up that is
// told from silence.
#include "build.h"
#include "fake_host.h"
#include "files.h"
#include "real_host.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace qlink;

namespace {

struct PtyPort : ::testing::Test {
    test::TempRoot root;
    int master = -1;
    RealHost host;

    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        std::filesystem::create_directories(root.dir / "dev");
        for (const char* dev : {"dev/ttyS0", "dev/ttyUSB0"})
            std::filesystem::create_symlink(ptsname(master), root.dir / dev);
    }
    void TearDown() override {
        host.close_port();
        if (master >= 0) close(master);
    }
    speed_t speed() {
        termios t{};
        int fd = open(root.path("dev/ttyS0").c_str(), O_RDWR | O_NOCTTY);
        tcgetattr(fd, &t);
        close(fd);
        return cfgetospeed(&t);
    }
    void baud(const std::string& content) {
        qor::replace_file(root.path("u/tarnu/mokel/BAUD"), content);
    }
};

} // namespace

TEST_F(PtyPort, TheBaudFileSetsTheLineSpeed) {
    std::string error;
    ASSERT_TRUE(host.open_port(telelink_build.port, error)) << error;
    baud("# speed of the line\n19200\n");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(host.configure(telelink_build.port, true), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "BAUD: 19200\n");
    EXPECT_EQ(speed(), B19200);
    baud("19200"); // a line without its newline is not read
    EXPECT_EQ(host.configure(telelink_build.port, false), 0);
    EXPECT_EQ(speed(), B9600);
    baud("38400\n"); // a port without the BAUD file is always at 9600, and says nothing
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(host.configure(scopelink66_build.port, true), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(speed(), B9600);
}

TEST_F(PtyPort, ARecordGoesOutWholeWhenTheQueueIsFull) {
    std::string error;
    ASSERT_TRUE(host.open_port(telelinkusb_build.port, error)) << error; // non-blocking
    ASSERT_EQ(host.configure(telelinkusb_build.port, false), 0);
    // Fill the line's queue from a second descriptor of the same line.
    int filler = open(root.path("dev/ttyUSB0").c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(filler, 0);
    std::string block(4096, 'x');
    std::size_t queued = 0;
    for (ssize_t n; (n = write(filler, block.data(), block.size())) > 0;)
        queued += static_cast<std::size_t>(n);
    close(filler);
    // The far end reads only after a while.
    std::string seen;
    std::thread far_end([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        char buf[4096];
        for (int quiet = 0; quiet < 20;) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0) {
                seen.append(buf, static_cast<std::size_t>(n));
                quiet = 0;
            } else {
                ++quiet;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
    });
    const std::string record = "`move 01:00:00.0  10:00:00\n";
    EXPECT_TRUE(host.write_port(record, error)) << error;
    far_end.join();
    EXPECT_EQ(seen.size(), queued + record.size());
    EXPECT_EQ(seen.substr(seen.size() - record.size()), record);
}

TEST_F(PtyPort, AHangUpIsNotSilence) {
    std::string error;
    ASSERT_TRUE(host.open_port(telelink_build.port, error)) << error;
    ASSERT_EQ(host.configure(telelink_build.port, false), 0);
    EXPECT_EQ(host.read_port(255, error), std::string()); // silence
    ASSERT_EQ(write(master, "OK\n", 3), 3);
    EXPECT_EQ(host.read_port(255, error), "OK\n");
    close(master); // the far end goes away
    master = -1;
    EXPECT_EQ(host.read_port(255, error), std::nullopt);
    EXPECT_EQ(error, "line hung up");
    EXPECT_FALSE(host.write_port("`", error));
}
