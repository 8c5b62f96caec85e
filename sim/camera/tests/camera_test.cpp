// The simulated camera as the driver and the daemon see it: fff starts an
// exposure and returns, exp3 follows its phases, the frame appears whole.
#include "temp_site.h"

#include "files.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using qor::test::TempSite;
using namespace std::chrono_literals;

namespace {

struct Stamps {
    std::string begin, end, ro_end;
    std::string rest;
};

Stamps exp3(const TempSite& site) {
    auto r = site.capture({site.tool("exp3")}, 99);
    Stamps s;
    if (r.out.size() < 66) return s;
    s.begin = r.out.substr(0, 21);
    s.end = r.out.substr(22, 21);
    s.ro_end = r.out.substr(44, 21);
    s.rest = r.out.substr(66);
    return s;
}

enum class Phase { exposing, reading, idle };

Phase phase(const Stamps& s) {
    if (s.begin > s.end) return Phase::exposing;
    if (s.end > s.ro_end) return Phase::reading;
    return Phase::idle;
}

long file_size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

} // namespace

TEST(Camera, Exp3PrintsOneLineInFixedColumns) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    auto r = site.capture({site.tool("exp3")}, 99);
    ASSERT_GE(r.out.size(), 70u);
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1);
    EXPECT_EQ(r.out[21], ' ');
    EXPECT_EQ(r.out[43], ' ');
    EXPECT_EQ(r.out[65], ' ');
    for (std::size_t at : {0u, 22u, 44u}) {
        EXPECT_EQ(r.out[at + 13], ':');
        EXPECT_EQ(r.out[at + 16], ':');
    }
    float tems = 0;
    int vv = -1;
    ASSERT_EQ(std::sscanf(r.out.c_str() + 66, "%f %d", &tems, &vv), 2);
    EXPECT_FLOAT_EQ(tems, -110.7f);
    EXPECT_EQ(vv, 0);
    EXPECT_EQ(phase(exp3(site)), Phase::idle);
}

TEST(Camera, AnExposureRunsItsPhasesAndLeavesAWholeFrame) {
    qor::test::SiteOptions options;
    options.frame_side = 1024;
    options.readout_seconds = 1;
    TempSite site(options);
    ASSERT_TRUE(site.ok()) << site.error();
    site.set_key("setups.variables.obsnum.value", "41");
    qor::replace_file(site.tool("fff.dat"), "150\n0\n0\n4096\n4096\n0\nFast\nM31\n");
    const std::string frame = site.path("/data/d41.ccd");
    const long full = 5760 + 1024L * (1024 + 64) * 2;

    // fff returns while the exposure runs: the exposure clock starts only
    // after the set-up is stored, so the camera must still be exposing.
    ASSERT_EQ(site.run({site.tool("fff")}), 0);
    Stamps first = exp3(site);
    EXPECT_EQ(phase(first), Phase::exposing);
    EXPECT_FALSE(qor::file_exists(frame));
    EXPECT_EQ(site.key("setups.exposure.0.value"), "150");
    EXPECT_EQ(site.key("setups.object.0.value"), "M31");
    EXPECT_EQ(site.key("setups.variables.obsnum.value"), "41");
    // A second exposure is refused while the camera is busy.
    EXPECT_NE(site.run({site.tool("fff")}), 0);

    bool saw_reading = false;
    bool partial = false;
    Stamps last;
    TempSite::wait_for(
        [&] {
            long size = file_size(frame);
            if (size >= 0 && size != full) partial = true;
            last = exp3(site);
            if (phase(last) == Phase::reading) saw_reading = true;
            return phase(last) == Phase::idle;
        },
        10s);
    EXPECT_TRUE(saw_reading);
    EXPECT_FALSE(partial) << "the frame was visible before it was complete";
    EXPECT_EQ(phase(last), Phase::idle);
    EXPECT_EQ(last.begin, first.begin);
    EXPECT_LT(last.begin, last.end);
    EXPECT_LT(last.end, last.ro_end);
    EXPECT_EQ(file_size(frame), full);
    EXPECT_EQ(site.key("setups.variables.obsnum.value"), "42");
    // The previous exposure moved down the list of eight.
    EXPECT_LT(*site.key("imageid.exposures.1.ro_end"), last.begin);

    // Starting through the database flags, as expstart does.
    site.set_key("setups.exposure.current.value", "0");
    EXPECT_EQ(site.run({"dbset", "setups.flags.start.value", "1"}), 0);
    EXPECT_TRUE(
        TempSite::wait_for([&] { return file_size(site.path("/data/d42.ccd")) == full; }, 10s));
    EXPECT_EQ(site.key("setups.flags.start.value"), "0");
}

TEST(Camera, ConcurrentReadersSeeTheOldOrTheNewValueNeverAMix) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    const std::string a(3000, 'a');
    const std::string b(3000, 'b');
    site.set_key("setups.qor.v1.value", a);
    pid_t writer = site.start({"bash", "-c",
                               "for i in $(seq 400); do dbset setups.qor.v1.value " + a +
                                   "; dbset setups.qor.v1.value " + b + "; done"});
    ASSERT_GT(writer, 0);
    int as = 0, bs = 0;
    for (int i = 0; i < 150; ++i) {
        auto r = site.capture({"dbshow", "setups.qor.v1.value"});
        if (r.out == a + "\n") {
            ++as;
        } else if (r.out == b + "\n") {
            ++bs;
        } else {
            ADD_FAILURE() << "read " << r.out.size() << " mixed or partial bytes";
            break;
        }
    }
    EXPECT_GT(as + bs, 0);
}
