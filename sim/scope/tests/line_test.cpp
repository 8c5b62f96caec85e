// The real simulator on its pseudo-terminal, driven the way the link daemon
// drives the port: opened read-write, flushed, set raw, read without
// waiting, closed and re-opened before every real command.
#include "control.h"
#include "files.h"
#include "run.h"
#include "scratch.h"
#include "sky.h"
#include "text.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace qor::scope;
using namespace std::chrono_literals;

namespace {

std::string host_view(std::string s) {
    for (char& c : s) {
        if (c == '"') c = '.';
        if (c == '\'') c = ':';
    }
    return s;
}

bool separators_in_place(const std::string& rec) {
    for (int p : {3, 6, 13, 16, 23, 26, 34, 37, 43, 46})
        if (rec.size() <= static_cast<std::size_t>(p) || rec[p] != ':') return false;
    for (int p : {9, 19, 29, 40, 49})
        if (rec.size() <= static_cast<std::size_t>(p) || rec[p] != '.') return false;
    return true;
}

class LineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = scratch.dir();
        std::filesystem::create_directories(root + "/u/tarnu");
        qor::replace_file(root + "/u/tarnu/FILTER", "B 1\nV 2\nR 3\n");
    }
    void TearDown() override {
        close_port();
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    void start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {SCOPESIM_PATH, "--status-interval", "0.3", "--slew-rate",
                                         "20",          "--filter-time",     "0.3", "--ti-interval",
                                         "0",           "--quote-every",     "2"};
        args.insert(args.end(), extra.begin(), extra.end());
        pid = fork();
        if (pid == 0) {
            setenv("QOR_ROOT", root.c_str(), 1);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        for (int i = 0; i < 100 && !std::filesystem::exists(root + "/dev/ttyS0"); ++i)
            std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(std::filesystem::exists(root + "/dev/ttyS0"));
        ASSERT_TRUE(std::filesystem::exists(root + "/dev/ttyUSB0"));
        open_port();
    }

    void open_port() {
        close_port();
        port = ::open((root + "/dev/ttyS0").c_str(), O_RDWR);
        ASSERT_GE(port, 0);
        termios t{};
        t.c_cflag = B9600 | CS8 | CREAD | CLOCAL;
        t.c_iflag = IGNBRK;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        tcflush(port, TCIOFLUSH);
        ASSERT_EQ(tcsetattr(port, TCSANOW, &t), 0);
    }
    void close_port() {
        if (port >= 0) ::close(port);
        port = -1;
    }
    void send(const std::string& rec) {
        if (rec.size() > 4) open_port(); // the daemon re-opens before real commands
        ASSERT_EQ(::write(port, rec.data(), rec.size()), static_cast<ssize_t>(rec.size()));
    }
    // One read, as the daemon does it, after waiting up to timeout for data.
    std::string read_once(std::chrono::milliseconds timeout = 3000ms) {
        pollfd p{port, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return {};
        char buf[256];
        ssize_t n = ::read(port, buf, 255);
        return n > 0 ? std::string(buf, n) : std::string();
    }
    // Reads until a read satisfies pred; empty when none does in time.
    template <class Pred> std::string read_until(Pred pred, int reads = 40) {
        for (int i = 0; i < reads; ++i) {
            std::string r = read_once();
            if (pred(r)) return r;
        }
        return {};
    }
    void control(const std::string& line) {
        std::string err;
        ASSERT_TRUE(send_control(root, line, err)) << err;
    }
    std::string log(const char* name) {
        return qor::read_file(root + "/var/scope/" + name).value_or("");
    }
    bool log_has(const char* name, const std::string& text, int tries = 40) {
        for (int i = 0; i < tries; ++i) {
            if (log(name).find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    qor::test::Scratch scratch{"scopesim-line"};
    std::string root;
    pid_t pid = -1;
    int port = -1;
};

bool is_status(const std::string& r) {
    return r.size() == 69 && r[0] == '`';
}

} // namespace

TEST_F(LineTest, EveryReadOfASlowHostHoldsExactlyOneWholeStatusRecord) {
    start();
    int quoted = 0;
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(700ms); // several records fall due in between
        std::string r = read_once();
        ASSERT_TRUE(is_status(r)) << r;
        EXPECT_TRUE(separators_in_place(host_view(r))) << r;
        quoted += r.find('\'') != std::string::npos;
    }
    EXPECT_GE(quoted, 1);
}

TEST_F(LineTest, MoveFilterAndTimeOverTheLine) {
    start({"--ra", "2.8", "--dec", "-14", "--slew-rate", "4"}); // about a second of slewing
    send(std::string("`\0", 2));
    std::this_thread::sleep_for(200ms); // before the flush of the next re-open
    send("`move 03:00:00.0 -10:00:00\n");
    std::vector<std::string> reads;
    for (int i = 0; i < 40 && (reads.empty() || reads.back() != "move done\n"); ++i)
        reads.push_back(read_once());
    ASSERT_EQ(reads.back(), "move done\n");
    int slewing = 0;
    for (auto& r : reads) slewing += is_status(r) && r[51] == 'S';
    EXPECT_GE(slewing, 2);
    std::string at = read_until(is_status);
    // Shown in the equinox of date, as the batch side's pointing check expects.
    double ra = 3, dec = -10;
    precess(ra, dec, 2000, julian_epoch(static_cast<double>(std::time(nullptr))));
    EXPECT_EQ(host_view(at).substr(21, 21), hms_text(ra) + dms_text(dec));
    EXPECT_EQ(at[51], 'T');

    send("`filt R\n");
    EXPECT_EQ(read_until([](auto& r) { return !is_status(r); }), "filt done\n");
    EXPECT_EQ(read_until(is_status).substr(57, 4), "0003");
    send("`filt x\n");
    std::string refused = read_until([](auto& r) { return !is_status(r); });
    ASSERT_GT(refused.size(), 5u);
    EXPECT_EQ(refused[5], 'e');
    send("`&");
    send("`$");

    control("ti");
    ASSERT_EQ(read_until([](auto& r) { return r == "ti\n"; }), "ti\n");
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char answer[16];
    std::strftime(answer, sizeof answer, "`%H%M%S\n", &tm);
    send(answer);
    EXPECT_TRUE(log_has("scope.log", "matches host clock"));
    EXPECT_TRUE(log_has("scope.log", "dome start request"));
    EXPECT_TRUE(log_has("scope.log", "dome stop request"));
    EXPECT_TRUE(log_has("received.log", " `\\x00\n"));
    EXPECT_TRUE(log_has("received.log", " `move 03:00:00.0 -10:00:00\\n\n"));
    EXPECT_TRUE(log_has("received.log", " `$\n"));
}

TEST_F(LineTest, InjectedFaultsReachTheHostAsAsked) {
    start({"--status-interval", "5"});
    read_until(is_status);
    control("split 20");
    std::string first = read_once();
    ASSERT_EQ(first.size(), 20u) << first;
    std::string second = read_once();
    EXPECT_TRUE(is_status(first + second)) << first + second;
    control("TI");
    EXPECT_EQ(read_once(), "TI\n");
    control("garbage 9");
    EXPECT_EQ(read_once().size(), 9u);
    control("reply 12345e\\sfault");
    EXPECT_EQ(read_once(), "12345e fault\n");
    EXPECT_TRUE(log_has("sent.log", " TI\\n\n"));
}

TEST_F(LineTest, SurvivesTheHostClosingTheLineAndStopsCleanlyOnTerm) {
    start();
    close_port(); // no descriptor of the host left open
    std::this_thread::sleep_for(800ms);
    open_port();
    EXPECT_TRUE(is_status(read_until(is_status)));
    EXPECT_FALSE(log_has("scope.log", "hung up", 1));

    std::string err;
    EXPECT_TRUE(qor::file_exists(root + "/var/scope/scopesim.pid"));
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(std::filesystem::exists(root + "/dev/ttyS0"));
    EXPECT_FALSE(std::filesystem::is_symlink(root + "/dev/ttyUSB0"));
    EXPECT_FALSE(qor::file_exists(root + "/var/scope/scopesim.pid"));
    EXPECT_FALSE(send_control(root, "status", err));
    EXPECT_NE(log("scope.log").find("stopped"), std::string::npos);
}

TEST(StartScope, StartsDetachedOncePerSiteAndStopsOnRequest) {
    qor::test::Scratch scratch{"scopesim-start"};
    std::string root = scratch.dir();
    setenv("SCOPESIM", SCOPESIM_PATH, 1);
    qor::Argv start = {START_SCOPE_PATH, root, "--status-interval", "0.5"};
    ASSERT_EQ(qor::run(start), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(root + "/dev/ttyS0"));
    auto pid_text = qor::read_first_line(root + "/var/scope/scopesim.pid", 20);
    ASSERT_TRUE(pid_text);
    pid_t pid = std::stoi(*pid_text);
    EXPECT_EQ(kill(pid, 0), 0);

    // A second simulator would take the line away from the first.
    EXPECT_NE(qor::run(start), 0);
    EXPECT_EQ(qor::read_first_line(root + "/var/scope/scopesim.pid", 20), pid_text);

    std::string err;
    ASSERT_TRUE(send_control(root, "stop", err)) << err;
    for (int i = 0; i < 100 && kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(50ms);
    EXPECT_NE(kill(pid, 0), 0);
    EXPECT_FALSE(std::filesystem::exists(root + "/dev/ttyS0"));
}

TEST_F(LineTest, EndsByItselfWhenItsSiteIsRemoved) {
    start();
    close_port();
    std::filesystem::remove_all(root + "/var");
    int status = -1;
    for (int i = 0; i < 80 && waitpid(pid, &status, WNOHANG) != pid; ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(WIFEXITED(status)) << "still running";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    pid = -1;
}
