#include "camera.h"

#include "camdb.h"
#include "files.h"
#include "frame.h"
#include "site.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace qor::sim {

namespace {

constexpr int max_side = 4096;
constexpr long max_hundredths = 360000; // one hour
constexpr int max_readout = 600;

// Seconds on the monotonic clock, which a stepped or faked wall clock
// never moves: the camera log's exposure times can be set beside another
// process's log that runs on the true wall clock.
double monotonic_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void sleep_ms(long ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A stamp strictly later than prev, so the stamps of one exposure always
// compare in order even when its phases fall within one tenth of a second.
// A prev from the future (a clock set back) is not waited for long.
std::string later_stamp(const std::string& prev) {
    for (int i = 0; i < 20; ++i) {
        std::string s = camera_stamp();
        if (s > prev) return s;
        sleep_ms(20);
    }
    return camera_stamp();
}

std::string stamp_of(int index, const char* field) {
    return db_get(exposure_key(index, field)).value_or("");
}

// The newest exposure moves down the list of eight; entry 0 keeps the
// previous end stamps until the new exposure reaches them, which is how
// the phase is told from the stamps (begin > end: exposing).
void record_begin() {
    static const char* fields[] = {"exp_begin", "exp_end", "ro_end"};
    for (int i = 7; i >= 1; --i) {
        for (const char* f : fields) db_set(exposure_key(i, f), stamp_of(i - 1, f));
    }
    std::string last = std::max(stamp_of(0, "exp_end"), stamp_of(0, "ro_end"));
    db_set(exposure_key(0, "exp_begin"), later_stamp(last));
}

void record(const char* field, const char* after) {
    db_set(exposure_key(0, field), later_stamp(stamp_of(0, after)));
}

int leading_int(const std::string& s, int fallback) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (end == s.c_str()) return fallback;
    return static_cast<int>(std::max(-1000000L, std::min(v, 1000000L)));
}

int frame_side(const Setup& setup) {
    int side = std::min(leading_int(setup.nc, max_side), leading_int(setup.nr, max_side));
    if (side < 1 || side > max_side) side = max_side;
    long cap = db_get_long("sim.camera.maxside", max_side);
    if (cap >= 1 && cap < side) side = static_cast<int>(cap);
    return side;
}

void detach_stdio() {
    int null = open("/dev/null", O_RDWR);
    if (null < 0) return;
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    if (null > STDERR_FILENO) close(null);
}

// The background part of an exposure; runs in its own session.
void expose(const Setup& setup, long obsnum, const std::string& begin, double opened) {
    sleep_ms(setup.hundredths * 10);
    record("exp_end", "exp_begin");
    double closed = monotonic_seconds();

    long readout = db_get_long("sim.camera.readout", 3);
    readout = std::max(0L, std::min(readout, static_cast<long>(max_readout)));
    sleep_ms(readout * 1000);

    FrameInfo info;
    info.side = frame_side(setup);
    info.column_offset = std::max(0, leading_int(setup.sc, 0));
    info.row_offset = std::max(0, leading_int(setup.sr, 0));
    info.obsnum = obsnum;
    info.hundredths = setup.hundredths;
    info.object = setup.object;
    info.readspeed = setup.readspeed;
    info.windowset = setup.windowset;
    info.date_obs = begin.substr(0, 10);
    info.time_obs = begin.size() >= 21 ? begin.substr(11, 10) : "00:00:00.0";
    auto temp = db_get("cameradata.temperature.current.detector");
    if (temp) info.temperature = std::strtod(temp->c_str(), nullptr);

    // The frame appears under its name only when complete (temp + rename),
    // and the next number is in place before anyone can see the frame.
    std::string frame = site_path("/data/d") + std::to_string(obsnum) + ".ccd";
    db_set("setups.variables.obsnum.value", std::to_string(obsnum + 1));
    bool written = static_cast<bool>(replace_file(frame, make_frame(info)));
    record("ro_end", "exp_end");
    char span[64];
    std::snprintf(span, sizeof span, " %.3f %.3f ", opened, closed);
    append_file(site_path("/var/log/camera.log"),
                "d" + std::to_string(obsnum) + ".ccd " + std::to_string(info.side) + " " +
                    std::to_string(setup.hundredths) + (written ? " written" : " failed") + span +
                    setup.object + "\n");
}

} // namespace

std::string camera_stamp() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    std::time_t t = tv.tv_sec;
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%d", 1900 + tm.tm_year,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(tv.tv_usec / 100000));
    return buf;
}

std::string exposure_key(int index, const char* field) {
    return "imageid.exposures." + std::to_string(index) + "." + field;
}

int start_exposure(const Setup& given) {
    Setup setup = given;
    setup.hundredths = std::max(0L, std::min(setup.hundredths, max_hundredths));

    // One exposure at a time: the lock is held by the exposing process.
    mkdir(site_path("/var").c_str(), 0777);
    std::string lock_path = site_path("/var/camera.lock");
    int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock < 0 || flock(lock, LOCK_EX | LOCK_NB) != 0) {
        std::fputs("camera busy: an exposure is running\n", stderr);
        if (lock >= 0) close(lock);
        return 1;
    }

    db_set("setups.exposure.0.value", std::to_string(setup.hundredths));
    db_set("setups.sc.0.value", setup.sc);
    db_set("setups.sr.0.value", setup.sr);
    db_set("setups.nc.0.value", setup.nc);
    db_set("setups.nr.0.value", setup.nr);
    db_set("setups.flags.windowset.value", setup.windowset);
    db_set("setups.readspeed.0.value", setup.readspeed);
    db_set("setups.object.0.value", setup.object);
    long obsnum = db_get_long("setups.variables.obsnum.value", 1);

    record_begin();
    double opened = monotonic_seconds();
    std::string begin = stamp_of(0, "exp_begin");

    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        std::fputs("camera: cannot start the exposure\n", stderr);
        close(lock);
        return 1;
    }
    if (pid == 0) {
        setsid();
        detach_stdio();
        expose(setup, obsnum, begin, opened);
        _exit(0); // the lock goes with us
    }
    close(lock);
    return 0;
}

} // namespace qor::sim
