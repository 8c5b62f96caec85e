// The copies judged by readers that share no code with the writer:
// fitsverify, and astropy with warnings as errors (check_fits.py also
// compares the pixels with the raw counts and the keywords with the record).
#include "convert.h"

#include "files.h"
#include "run.h"
#include "sample.h"
#include "scratch.h"
#include "site.h"
#include "temp_site.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using namespace qarch;
using qarch::test::night;
using qarch::test::raw_frame;
using qarch::test::record_of;

// What the readers find wrong with a copy; empty when both accept it.
std::string readers_say(const std::string& fits, const std::string& raw,
                        const std::string& record = "") {
    std::string said;
    auto v = qor::run_capture({"fitsverify", "-q", fits}, 65536, 60);
    if (v.out.rfind("verification OK", 0) != 0)
        said += "fitsverify: " + qor::run_capture({"fitsverify", fits}, 65536, 60).out;
    qor::Argv astropy{"/usr/bin/python3", "-W", "error", CHECK_FITS, fits, raw};
    if (!record.empty()) astropy.push_back(record);
    auto a = qor::run_capture(astropy, 65536, 120);
    if (a.status != 0) said += "astropy (" + std::to_string(a.status) + "): " + a.out;
    return said;
}

// A card as an odd camera might write it: not valid FITS.
std::string with_odd_card(std::string frame) {
    frame.replace(30 * 80, 80, qor::sim::card("FOCUS", "12.3.4"));
    frame.replace(31 * 80, 80, qor::sim::card("SHUTTER", "'open"));
    return frame;
}

TEST(Readers, AcceptEveryCopyWithExactPixelsAndTheRecordsKeywords) {
    qor::test::Scratch scratch("qorarchive");
    const std::string data = scratch.path("data");
    std::filesystem::create_directory(data);
    test::DiskHost host;
    auto raw = [&](long n) { return data + "/d" + std::to_string(n) + ".ccd"; };
    auto record = [&](long n) { return data + "/d" + std::to_string(n) + ".json"; };
    auto fits = [&](long n) { return data + "/fits/d" + std::to_string(n) + ".fits"; };

    // With its record; without; with a record cut short; a window across
    // both detector halves; cards FITS does not take.
    qor::sim::FrameInfo across;
    across.side = 512;
    across.column_offset = 1800;
    across.obsnum = 4;
    ASSERT_TRUE(qor::replace_file(raw(1), raw_frame(1, night)));
    ASSERT_TRUE(qor::replace_file(record(1), qor::to_json(record_of(1, night, 1))));
    ASSERT_TRUE(qor::replace_file(raw(2), raw_frame(2, night)));
    ASSERT_TRUE(qor::replace_file(raw(3), raw_frame(3, night)));
    ASSERT_TRUE(qor::replace_file(record(3), qor::to_json(record_of(3, night)).substr(0, 90)));
    ASSERT_TRUE(qor::replace_file(raw(4), qor::sim::make_frame(across)));
    ASSERT_TRUE(qor::replace_file(raw(5), with_odd_card(raw_frame(5, night))));
    ASSERT_TRUE(qor::replace_file(record(5), qor::to_json(record_of(5, night, 2))));

    EXPECT_EQ(nightfits(host, {"nightfits", data}), 0) << host.out;
    EXPECT_NE(host.out.find("d5.ccd: camera card not valid FITS, kept as a comment: FOCUS"),
              std::string::npos)
        << host.out;
    for (long n : {1, 2, 3, 4, 5}) {
        bool recorded = n == 1 || n == 5;
        EXPECT_EQ(readers_say(fits(n), raw(n), recorded ? record(n) : ""), "") << "d" << n;
    }
}

TEST(Readers, ANightOfTheSimulatedCameraThroughTheInstalledPrograms) {
    qor::test::TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    // Two exposures of one second each; the driver's record for the first.
    ASSERT_TRUE(qor::replace_file(site.tool("fff.dat"), "100\n0\n0\n512\n512\n2\nFast\nM42\n"));
    const double start = qor::real::now();
    ASSERT_EQ(site.run({site.tool("fff")}), 0);
    ASSERT_TRUE(qor::replace_file(site.path("/data/d1.json"), qor::to_json(record_of(1, start))));
    auto whole = [&](const std::string& frame) {
        return qor::test::TempSite::wait_for([&] { return qor::file_exists(frame); },
                                             std::chrono::seconds(60));
    };
    ASSERT_TRUE(whole(site.path("/data/d1.ccd")));
    // The frame is in place a moment before the camera is free again.
    ASSERT_TRUE(qor::test::TempSite::wait_for([&] { return site.run({site.tool("fff")}) == 0; },
                                              std::chrono::seconds(60)));
    ASSERT_TRUE(whole(site.path("/data/d2.ccd")));

    auto one = site.capture({site.tool("ccd2fits"), "1"});
    EXPECT_EQ(one.status, 0) << one.out;
    EXPECT_NE(one.out.find("-> " + site.path("/data/fits/d1.fits")), std::string::npos) << one.out;
    auto all = site.capture({site.tool("nightfits")});
    EXPECT_EQ(all.status, 0) << all.out;
    EXPECT_NE(all.out.find("2 frames: 1 converted, 1 up to date"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find("index: " + site.path("/data/fits/index.csv")), std::string::npos);

    EXPECT_EQ(readers_say(site.path("/data/fits/d1.fits"), site.path("/data/d1.ccd"),
                          site.path("/data/d1.json")),
              "");
    EXPECT_EQ(readers_say(site.path("/data/fits/d2.fits"), site.path("/data/d2.ccd")), "");
    auto index = qor::read_file(site.path("/data/fits/index.csv")).value_or("");
    EXPECT_NE(index.find("\nd1.ccd,"), std::string::npos) << index;
    EXPECT_NE(index.find(",d2.fits,header\n"), std::string::npos) << index;
}

} // namespace
