// Frames and records for the archive's tests: a raw frame of the simulated
// camera started at a given time, and the record the driver writes for it,
// its position worked out from a batch line by the driver's own routines.
#pragma once

#include "precession.h"
#include "fake_system.h"
#include "frame.h"
#include "frame_record.h"
#include "system.h"
#include "line.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace qarch::test {

// Real files, for the independent readers; a clock that moves only when
// the program sleeps, and the console kept.
struct DiskHost : qor::RealSystem {
    double t = 0;
    std::string out;
    double now() override { return t; }
    double monotonic() override { return t; }
    void sleep(double s) override { t += s; }
    void print(std::string_view s) override { out += s; }
};

inline const char* batch_line = "A001 V 10 3 05:35:17.3 -05:23:28 2000 0 0 512 512 1 f M42";
inline constexpr float epoch_of_date = 2026.9f;
inline constexpr double night = 1796508000; // 2026-12-05 22:00 UTC

// The raw frame of observation obsnum, its exposure started at unix time t
// (the camera stamps local time).
inline std::string raw_frame(long obsnum, double t, int side = 512) {
    qor::sim::FrameInfo info;
    info.side = side;
    info.obsnum = obsnum;
    info.hundredths = 1000;
    info.object = "camera"; // what the record says wins
    std::time_t s = static_cast<std::time_t>(t);
    std::tm tm{};
    localtime_r(&s, &tm);
    char date[32], time[32];
    std::strftime(date, sizeof date, "%Y-%m-%d", &tm);
    std::strftime(time, sizeof time, "%H:%M:%S.0", &tm);
    info.date_obs = date;
    info.time_obs = time;
    return qor::sim::make_frame(info);
}

// The record of frame q of the batch line; the telescope reported the
// position of date it was sent to, moved north by north_arcsec.
inline qor::FrameRecord record_of(long obsnum, double t, int q = 0, double north_arcsec = 0) {
    qobs::Pointing p = qobs::getradec(*qor::parse_batch_line(batch_line).line, q, epoch_of_date);
    qor::FrameRecord r;
    r.frame = "d" + std::to_string(obsnum) + ".ccd";
    r.obsnum = obsnum;
    // Longer than one card holds.
    r.batch_file =
        "/u/tarnu/nights/2026-12-05/the-whole-night-of-the-fifth-of-december/night.batch";
    r.line_number = 4;
    r.line = batch_line;
    r.frame_index = q;
    r.frames_in_line = 3;
    r.object = "M42";
    r.ra_j2000 = p.ra_text;
    r.dec_j2000 = p.dec_text;
    r.ra_deg = *qor::sexagesimal(p.ra_text) * 15;
    r.dec_deg = *qor::sexagesimal(p.dec_text);
    r.ra_telescope = qobs::toms1(p.a_ra, 1);
    r.dec_telescope = qobs::toms1(static_cast<float>(p.a_dec + north_arcsec / 3600), 0);
    r.telescope_equinox = epoch_of_date;
    r.filter = "V";
    r.filter_number = 3;
    r.exposure = 10;
    r.readout = "Fast";
    r.window = {"0", "0", "512", "512"};
    r.observers = "A. Vega, B. Deneb";
    r.utc_start = qor::iso_utc(t);
    r.jd_start = qor::julian_date(t);
    r.build = "qorobs";
    return r;
}

} // namespace qarch::test
