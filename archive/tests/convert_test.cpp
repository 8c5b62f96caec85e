#include "convert.h"

#include "files.h"
#include "sample.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace qarch;
using qarch::test::night;
using qarch::test::raw_frame;
using qarch::test::record_of;

class Convert : public ::testing::Test {
  protected:
    std::string data = "/data";
    qor::test::FakeSystem host; // files in memory

    // The camera stamps local time: a zone three hours west of UTC shows
    // whether it is read as such.
    std::string old_tz = std::getenv("TZ") ? std::getenv("TZ") : "";
    void SetUp() override {
        setenv("TZ", "WEST+3", 1);
        tzset();
    }
    void TearDown() override {
        if (old_tz.empty())
            unsetenv("TZ");
        else
            setenv("TZ", old_tz.c_str(), 1);
        tzset();
    }

    std::string raw(long n) const { return data + "/d" + std::to_string(n) + ".ccd"; }
    std::string fits(long n) const { return data + "/fits/d" + std::to_string(n) + ".fits"; }
    std::string record(long n) const { return data + "/d" + std::to_string(n) + ".json"; }
    void put(const std::string& path, const std::string& bytes) { host.put(path, bytes); }
    Outcome convert(long n) { return convert_frame(host, raw(n), Options{}); }
    std::string copy_of(long n) const { return host.files.count(fits(n)) ? host.file(fits(n)) : ""; }
    bool exists(const std::string& path) const { return host.files.count(path) > 0; }
};

TEST_F(Convert, AFrameWithoutAUsableRecordStillConvertsAndSaysWhy) {
    struct Case {
        long n;
        std::optional<std::string> record;
        std::string says;
    };
    const std::string good = qor::to_json(record_of(5, night));
    const std::vector<Case> cases{
        {1, std::nullopt, "d1.ccd: no record d1.json: converted from the frame's own header"},
        {2, good.substr(0, good.size() / 2),
         "d2.ccd: record d2.json not used: not JSON (cut short or damaged): converted"},
        {3, qor::to_json(record_of(7, night)), "it is the record of observation 7"},
        {4, qor::to_json(record_of(4, night + 7200)), "is 7200 s from the camera's"},
        {5, good, ""},
    };
    for (const auto& c : cases) {
        put(raw(c.n), raw_frame(c.n, night));
        if (c.record) put(record(c.n), *c.record);
        Outcome o = convert(c.n);
        EXPECT_EQ(o.result, Result::converted) << c.n;
        auto copy = existing_copy(host, fits(c.n));
        ASSERT_TRUE(copy && copy->whole) << c.n;
        EXPECT_EQ(copy->with_record, c.says.empty()) << c.n;
        if (c.says.empty()) {
            EXPECT_TRUE(o.messages.empty()) << o.messages.front();
        } else {
            ASSERT_EQ(o.messages.size(), 1u) << c.n;
            EXPECT_NE(o.messages[0].find(c.says), std::string::npos) << o.messages[0];
        }
    }
}

TEST_F(Convert, AFrameBeingWrittenIsNotConvertedUntilWholeAndNeverChanged) {
    const std::string frame = raw_frame(1, night);
    for (std::size_t cut : {std::size_t{100}, frame.size() / 2, frame.size() - 1}) {
        put(raw(1), frame.substr(0, cut));
        Outcome o = convert(1);
        EXPECT_EQ(o.result, Result::being_written) << cut;
        EXPECT_NE(o.messages.at(0).find("being written"), std::string::npos) << o.messages[0];
        EXPECT_FALSE(exists(fits(1))) << cut;
    }

    // Whole in size, but still being written while we watch it.
    put(raw(1), frame);
    host.t = host.modified[raw(1)]; // just written
    host.on_sleep = [&] { put(raw(1), host.file(raw(1)) + "x"); };
    Outcome o = convert(1);
    EXPECT_EQ(o.result, Result::being_written);
    EXPECT_NE(o.messages.at(0).find("still changing"), std::string::npos) << o.messages[0];
    EXPECT_FALSE(exists(fits(1)));

    host.on_sleep = nullptr;
    put(raw(1), frame);
    EXPECT_EQ(convert(1).result, Result::converted);
    EXPECT_EQ(host.file(raw(1)), frame);
}

TEST_F(Convert, ACopyMadeWithTheRecordIsNotReplacedByAWorseOne) {
    put(raw(1), raw_frame(1, night));
    put(record(1), qor::to_json(record_of(1, night)));
    ASSERT_EQ(convert(1).result, Result::converted);
    const std::string best = copy_of(1);

    host.files.erase(record(1));
    Outcome o = convert(1);
    EXPECT_EQ(o.result, Result::kept);
    EXPECT_NE(o.messages.at(0).find("kept"), std::string::npos);
    put(record(1), "{\"frame\":");
    EXPECT_EQ(convert(1).result, Result::kept);
    EXPECT_EQ(copy_of(1), best);

    // A copy cut short is no copy to keep.
    put(fits(1), best.substr(0, best.size() - 2880));
    EXPECT_EQ(convert(1).result, Result::converted);
    EXPECT_FALSE(existing_copy(host, fits(1))->with_record);

    // Nor is the copy of another frame of the same number.
    put(raw(1), raw_frame(1, night));
    put(record(1), qor::to_json(record_of(1, night)));
    ASSERT_EQ(convert(1).result, Result::converted);
    put(raw(1), raw_frame(1, night + 3600));
    host.files.erase(record(1));
    EXPECT_EQ(convert(1).result, Result::converted);
    EXPECT_FALSE(existing_copy(host, fits(1))->with_record);
}

// The index as rows of fields (no field of these frames needs quoting).
std::vector<std::vector<std::string>> rows_of(const std::string& csv) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(csv);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, ',');) f.push_back(x);
        if (!line.empty() && line.back() == ',') f.push_back("");
        rows.push_back(f);
    }
    return rows;
}

TEST_F(Convert, NightfitsCopiesWhatIsMissingAndIndexesEveryFrame) {
    put(raw(1), raw_frame(1, night));
    put(record(1), qor::to_json(record_of(1, night, 0, 10)));
    put(raw(2), raw_frame(2, night + 60));
    put(raw(3), raw_frame(3, night + 120).substr(0, 9000));

    EXPECT_EQ(nightfits(host, {"nightfits", data}), 0) << host.out;
    EXPECT_NE(host.out.find("3 frames: 2 converted, 0 up to date, 0 kept, 1 being written"),
              std::string::npos)
        << host.out;
    auto rows = rows_of(host.file(data + "/fits/index.csv"));
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_EQ(rows[0].size(), 14u);
    EXPECT_EQ(rows[0][11], "offset_arcsec");
    auto r1 = record_of(1, night, 0, 10);
    EXPECT_EQ(rows[1], (std::vector<std::string>{"d1.ccd", r1.utc_start, "4", "M42", "V", "10.000",
                                                 r1.ra_j2000, r1.dec_j2000, r1.ra_telescope,
                                                 r1.dec_telescope, "2026.900", rows[1][11],
                                                 "d1.fits", "record"}));
    // Ten arc seconds north of the position of date the driver sent it to.
    EXPECT_NEAR(std::stod(rows[1][11]), 10, 1.5);
    EXPECT_EQ(rows[2][0], "d2.ccd");
    EXPECT_EQ(rows[2][1], qor::iso_utc(night + 60)); // from the camera's local stamp
    EXPECT_EQ(rows[2][12], "d2.fits");
    EXPECT_EQ(rows[2][13], "header");
    EXPECT_EQ(rows[3][12], "");

    // A second pass leaves the copies as they are, unless a record came
    // after the copy was made.
    auto before = host.stat(fits(1));
    host.out.clear();
    EXPECT_EQ(nightfits(host, {"nightfits", data}), 0);
    EXPECT_NE(host.out.find("0 converted, 2 up to date"), std::string::npos) << host.out;
    EXPECT_EQ(host.stat(fits(1)), before);
    put(record(2), qor::to_json(record_of(2, night + 60)));
    put(record(1), qor::to_json(record_of(1, night)));
    host.modified[record(1)] = host.modified[fits(1)] + 10;
    host.out.clear();
    EXPECT_EQ(nightfits(host, {"nightfits", data}), 0);
    EXPECT_NE(host.out.find("2 converted, 0 up to date"), std::string::npos) << host.out;
    EXPECT_TRUE(existing_copy(host, fits(2))->with_record);
}

TEST_F(Convert, Ccd2fitsWaitsForTheFrameThenIndexes) {
    const std::string frame = raw_frame(1, night);
    put(raw(1), frame.substr(0, frame.size() / 2));
    int sleeps = 0;
    host.on_sleep = [&] {
        if (++sleeps == 5) put(raw(1), frame);
    };
    EXPECT_EQ(ccd2fits(host, {"ccd2fits", raw(1), "--wait", "30"}), 0) << host.out;
    EXPECT_TRUE(existing_copy(host, fits(1))->whole);
    EXPECT_EQ(rows_of(host.file(data + "/fits/index.csv")).size(), 2u);

    // Given up after the wait, with the reason.
    put(raw(2), frame.substr(0, 6000));
    host.out.clear();
    EXPECT_EQ(ccd2fits(host, {"ccd2fits", raw(2), "--wait", "3"}), 1);
    EXPECT_NE(host.out.find("d2.ccd: being written: 6000 of "), std::string::npos) << host.out;
    EXPECT_FALSE(exists(fits(2)));

    // A copy that cannot be written is said, and fails.
    put(raw(2), frame);
    host.fail("write", fits(2), qor::test::Fault::no_space);
    host.out.clear();
    EXPECT_EQ(ccd2fits(host, {"ccd2fits", raw(2)}), 1);
    EXPECT_NE(host.out.find("d2.ccd: cannot write " + fits(2)), std::string::npos) << host.out;

    EXPECT_EQ(ccd2fits(host, {"ccd2fits"}), 2);
    EXPECT_EQ(ccd2fits(host, {"ccd2fits", raw(1), "--wait", "soon"}), 2);
}

} // namespace
