// The codecs of common/ against the simulators, which write the same
// formats independently: what the simulated telescope sends and the camera
// stamps must read back as what they mean, and format again to the same text.
#include "camera.h"
#include "phase.h"
#include "sexagesimal.h"
#include "status.h" // the simulated telescope's
#include "status_line.h"
#include "telescope_file.h"
#include "text.h" // the simulated telescope's sexagesimal fields

#include <cmath>
#include <gtest/gtest.h>

namespace {

qor::scope::StatusFields state(double ra_h, double dec_deg, int filter, bool slewing, int count) {
    qor::scope::StatusFields f;
    f.clock_s = 21 * 3600 + 5 * 60 + 7.4;
    f.lst_h = 10.75;
    f.ra_h = ra_h;
    f.dec_deg = dec_deg;
    f.ha_h = 1.5;
    f.slewing = slewing;
    f.slew_count = count;
    f.filter = filter;
    f.temperature_c = -3.2;
    return f;
}

} // namespace

TEST(Codecs, TheStatusLineAndTelescopeFileOfTheSimulatedTelescope) {
    for (const auto& f : {state(5.588, -5.391, 3, false, 0), state(23.9999, 89.99, 4, true, 17),
                          state(0.0001, -0.25, 1234, true, 99)}) {
        std::string line = qor::scope::status_line(f);
        EXPECT_EQ(qor::status_line_text(qor::split_status_line(line)), line);
        EXPECT_EQ(qor::separator_faults("`" + line), 0);
        EXPECT_EQ(qor::clock_seconds(line), 21 * 3600 + 5 * 60 + 7);
        EXPECT_EQ(qor::beam_filter(line), f.filter);
        auto p = qor::telescope_position(line);
        ASSERT_TRUE(p) << line;
        // Whole arc seconds of declination, tenths of a second of time.
        EXPECT_NEAR(std::remainder(p->ra - f.ra_h, 24.0), 0, 0.06 / 3600);
        EXPECT_NEAR(p->dec, f.dec_deg, 0.6 / 3600);
        auto r = qor::read_status_line(line);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->dec[0], f.dec_deg < 0 ? '-' : '+');
        EXPECT_EQ(qor::sexagesimal(r->dec).value_or(99), qor::sexagesimal(line.substr(30, 11)));

        auto file = qor::read_telescope_file(qor::telescope_file_text(line, -110.7f, 5, "P"));
        ASSERT_TRUE(file);
        EXPECT_EQ(file->status_line, line);
        EXPECT_EQ(file->numbers, "-110.05");
        EXPECT_EQ(file->phase_text, "P");
    }
    // Moving, the motion marks change from one record to the next.
    EXPECT_NE(qor::motion_marks(qor::scope::status_line(state(1, 1, 1, true, 5))),
              qor::motion_marks(qor::scope::status_line(state(1, 1, 1, true, 6))));
}

TEST(Codecs, TheExposurePhaseOfTheSimulatedCamerasStamps) {
    std::string begin = qor::sim::camera_stamp();
    std::string exp3 = begin + " " + begin + " " + begin + " -110.7 0\n";
    auto exposing = qor::read_phase(qor::exposing_text(exp3, 17));
    ASSERT_TRUE(exposing);
    EXPECT_EQ(exposing->phase, qor::Phase::exposing);
    EXPECT_EQ(exposing->remaining_s, 17);
    EXPECT_EQ(exposing->began, begin.substr(11, 8));
    auto reading = qor::read_phase(qor::reading_out_text(exp3, 6));
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->phase, qor::Phase::reading_out);
    EXPECT_EQ(reading->readout_s, 6);
    EXPECT_EQ(qor::phase_of(qor::reading_out_text(exp3, std::nullopt)), qor::Phase::reading_out);
    EXPECT_FALSE(qor::camera_free(qor::reading_out_text(exp3, 6)));
    EXPECT_TRUE(qor::camera_free(exp3.substr(0, 65)));
    EXPECT_EQ(qor::read_phase(exp3.substr(0, 65))->phase, qor::Phase::idle);
}

// What the status page shows must be of its form, or nothing: a reader never
// turns another text into a value.
TEST(Codecs, ReadersRefuseTextNotOfTheirForm) {
    std::string line = "21:05:07.310:44:10.901:01:24.5_10:08:41.03:43:16.5TR00OK0003+003.9C";
    auto r = qor::read_status_line(line);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->clock + " " + r->ra + " " + r->dec, "21:05:07.3 01:01:24.5 +10:08:41.0");
    EXPECT_FALSE(qor::read_status_line(line.substr(0, 45))->filter);
    for (std::size_t i : {2u, 8u, 22u, 28u, 30u, 33u, 39u, 40u}) {
        std::string bad = line;
        bad[i] = 'x';
        EXPECT_FALSE(qor::read_status_line(bad)) << i;
    }
    EXPECT_FALSE(qor::read_status_line(line.substr(0, 40)));
    // exp3 printed nothing or something else: no phase (the link would say exposing).
    const std::string begin = "2026-12-08T21:04:50.0";
    for (std::string bad : {std::string(), begin + " garbage", std::string(65, '#')})
        EXPECT_FALSE(qor::read_phase(bad)) << bad;
}

TEST(Codecs, SexagesimalTextOfTheSimulatorReadsBackAndRendersAgain) {
    for (double v : {0.0, 5.5881, 12.999999, 23.99997}) {
        std::string text = qor::scope::hms_text(v);
        double read = *qor::sexagesimal(text);
        EXPECT_NEAR(read, v, 0.05 / 3600) << text;
        auto p = qor::sexagesimal_parts(static_cast<float>(read), qor::Rounding::tenths);
        char again[32];
        std::snprintf(again, sizeof again, "%02d:%02d:%02d.%d", p.whole, p.minutes, p.seconds,
                      p.tenths);
        EXPECT_EQ(again, text);
    }
}
