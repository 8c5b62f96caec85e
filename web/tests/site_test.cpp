// The status page's facts read from a simulated site, and the names the
// server answers, each in a temporary site of its own.
#include "files.h"
#include "frame_record.h"
#include "source.h"
#include "status_site.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/stat.h>

using nlohmann::json;
using qor::test::TempSite;
using namespace qstatus;
using namespace qstatus::test;

namespace {

const std::string line = "A001 V 30 3 05:35:17 -05:23:28 2000 1 1 512 512 0 s M42";

void set_mtime(const std::string& path, std::time_t t) {
    timespec times[2] = {{t, 0}, {t, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

struct Facts : ::testing::Test {
    TempSite site;
    std::string batch = site.root() + "/tonight.bat";
    StatusSource source{Options{batch, 30}};

    json facts(std::time_t now = std::time(nullptr)) { return json::parse(source.collect(now)); }
    std::string status(const std::string& name) { return site.path("/u/tarnu/status/" + name); }
};

} // namespace

TEST_F(Facts, EachPartIsNotAvailableAloneWhenItsFileIsMissingEmptyCutOrGarbage) {
    ASSERT_TRUE(site.ok()) << site.error();
    const std::vector<std::string> parts = {"telescope", "exposure",  "job",     "line",
                                            "batch",     "lastimage", "preview", "log"};
    json f = facts();
    for (const auto& p : parts) EXPECT_FALSE(f[p]["available"]) << p;

    write_night(site, line, 5, false);
    qor::replace_file(batch, "v   A000 V 30 2 x\n" + line + "\n");
    f = facts();
    for (const auto& p : parts) EXPECT_TRUE(f[p]["available"]) << p;
    EXPECT_EQ(f["telescope"]["filter_letter"], "V");
    EXPECT_EQ(f["exposure"]["remaining_s"], 17);

    // Each file emptied, cut in half and filled with garbage (bytes that are
    // not UTF-8 among it: the answer must still parse); only its own parts go.
    const std::string garbage("\xff\xfe<b>\0\x01\x7f\xc3(\n\n\n\n\n\n\n\n\n\n", 20);
    const std::vector<std::pair<std::string, std::vector<std::string>>> files = {
        {status("telescope.txt"), {"telescope", "exposure"}},
        {status("job.txt"), {"job"}},
        {status("nowjob.txt"), {"line"}},
        {status("lastimage.txt"), {"lastimage"}},
        {status("last2.jpg"), {"preview"}},
        {batch, {"batch"}},
        {site.path("/u/tarnu/qorlib/obs.log"), {"log"}},
    };
    for (const auto& [file, fed] : files) {
        std::string good = qor::read_file(file).value();
        for (const std::string& bad : {std::string(), good.substr(0, good.size() / 2), garbage}) {
            qor::replace_file(file, bad);
            f = facts();
            // Half a batch file is whole lines still; a log shows any text.
            bool still = (file == batch && bad != garbage) || file.ends_with("obs.log");
            for (const auto& p : parts) {
                bool shown = std::count(fed.begin(), fed.end(), p) == 0 || (still && !bad.empty());
                EXPECT_EQ(f[p]["available"], shown) << file << " [" << bad.size() << "] " << p;
            }
        }
        qor::replace_file(file, good);
    }

    // A FIFO or a directory where a status file belongs: no hang, no value.
    std::filesystem::remove(status("telescope.txt"));
    ASSERT_EQ(mkfifo(status("telescope.txt").c_str(), 0600), 0);
    std::filesystem::remove(status("job.txt"));
    std::filesystem::create_directory(status("job.txt"));
    f = facts();
    EXPECT_FALSE(f["telescope"]["available"] || f["job"]["available"]);
}

TEST_F(Facts, StaleOnceNoRecordCameFor30Seconds) {
    ASSERT_TRUE(site.ok()) << site.error();
    write_night(site, line, 5, false);
    std::time_t record = std::time(nullptr) - 100;
    set_mtime(status("telescope.txt"), record);
    EXPECT_FALSE(facts(record + 30)["stale"]);
    EXPECT_TRUE(facts(record + 31)["stale"]);
    EXPECT_EQ(facts(record + 31)["status_age_s"], 31);
}

TEST_F(Facts, FramesTonightAndTheNewestWholePreview) {
    ASSERT_TRUE(site.ok()) << site.error();
    std::time_t noon = night_start(std::time(nullptr));
    for (auto [name, t] :
         std::vector<std::pair<std::string, std::time_t>>{{"d1.ccd", noon + 3600},
                                                          {"d2.ccd", noon - 3600},
                                                          {"d3.ccd", noon + 7200},
                                                          {"d4.ccd.tmp", noon + 9000},
                                                          {"dx.ccd", noon + 9000}}) {
        qor::replace_file(site.path("/data/" + name), "frame");
        set_mtime(site.path("/data/" + name), t);
    }
    EXPECT_EQ(facts(noon + 10000)["frames"], json::parse(R"({"available": true, "tonight": 2,
              "since": "12:00", "latest": "d3.ccd"})"));
    EXPECT_EQ(facts(noon + 86400 + 60)["frames"]["tonight"], 0); // the next night

    // last2.jpg while convert still writes it: newer than last1.jpg, not whole.
    write_night(site, line, 5, false);
    std::string jpeg = qor::read_file(status("last2.jpg")).value();
    qor::replace_file(status("last1.jpg"), jpeg.substr(0, 100) + "\xFF\xD9");
    set_mtime(status("last1.jpg"), std::time(nullptr) - 5);
    qor::replace_file(status("last2.jpg"), jpeg.substr(0, jpeg.size() / 2));
    EXPECT_EQ(source.preview()->bytes.size(), 102u);
    qor::replace_file(status("last2.jpg"), jpeg);
    EXPECT_EQ(source.preview()->bytes, jpeg);
}

TEST_F(Facts, BetweenExposuresTheCameraIsIdleAndAfterTheLastLineTheBatchIsDone) {
    ASSERT_TRUE(site.ok()) << site.error();
    write_night(site, line, 5, false);
    qor::replace_file(batch, "v   " + line + "\n" + line + "\n");
    const std::string status_lines =
        "21:05:07.3\n10:44:10.9\n01:01:24.5\n+10:08:41.\n03:43:16.5\nTR00 OK 0003\n+003.9C\n";
    const std::string idle =
        status_lines + "2026-12-08T21:04:50.0 2026-12-08T21:05:20.0 2026-12-08T21:05:30.0\n";
    // The link removed job.txt as the camera went idle: nothing is wrong.
    std::filesystem::remove(status("job.txt"));
    qor::replace_file(status("telescope.txt"), idle);
    json f = facts();
    EXPECT_EQ(f["job"], json::parse(R"({"available": false, "idle": true})"));
    EXPECT_EQ(f["batch"]["finished"], false);
    // No job.txt while exposing, or a damaged one while idle, is a fault.
    qor::replace_file(status("telescope.txt"), status_lines + "2026-12-08T21:04:50.0      17\n");
    EXPECT_EQ(facts()["job"]["idle"], false);
    qor::replace_file(status("telescope.txt"), idle);
    qor::replace_file(status("job.txt"), "garbage\n");
    EXPECT_EQ(facts()["job"]["idle"], false);

    qor::replace_file(batch, "v   " + line + "\n#  a comment\nv   " + line + "\n");
    EXPECT_EQ(facts()["batch"]["finished"], true);
}

TEST_F(Facts, ThePreviewSaysWhichFrameItIsOfAndWhenANewerOneExists) {
    ASSERT_TRUE(site.ok()) << site.error();
    write_night(site, line, 5, false); // lastimage.txt names d5.ccd
    std::time_t t = std::time(nullptr) - 100;
    qor::replace_file(site.path("/data/d5.ccd"), "frame");
    set_mtime(site.path("/data/d5.ccd"), t);
    set_mtime(status("lastimage.txt"), t + 1);
    set_mtime(status("last2.jpg"), t + 2);
    json f = facts();
    EXPECT_EQ(f["preview"]["frame"], "d5.ccd");
    EXPECT_EQ(f["preview"]["newer"], nullptr);

    // d6 has come; ccdpeek has written its lastimage.txt but not yet its
    // previews: the one shown is of the frame before, and a newer exists.
    qor::replace_file(site.path("/data/d6.ccd"), "frame");
    set_mtime(site.path("/data/d6.ccd"), t + 10);
    qor::replace_file(status("lastimage.txt"),
                      std::regex_replace(qor::read_file(status("lastimage.txt")).value(),
                                         std::regex("d5"), "d6"));
    set_mtime(status("lastimage.txt"), t + 13);
    f = facts();
    EXPECT_EQ(f["preview"]["frame"], nullptr);
    EXPECT_EQ(f["preview"]["newer"], "d6.ccd");
    set_mtime(status("last2.jpg"), t + 14);
    f = facts();
    EXPECT_EQ(f["preview"]["frame"], "d6.ccd");
    EXPECT_EQ(f["preview"]["newer"], nullptr);
}

TEST_F(Facts, TheNightReportSaysForEachPartAloneWhatIsMissingOrUnreadable) {
    ASSERT_TRUE(site.ok()) << site.error();
    const std::time_t now = std::time(nullptr);
    auto night = [&] { return json::parse(source.collect_night(now)); };
    json f = night();
    for (const char* p : {"index", "timeline"})
        EXPECT_EQ(f[p]["available"].dump() + " " + f[p]["why"].get<std::string>(),
                  "false is not there")
            << p;

    // Three frames, each with its thumbnail but the second.
    const double start = night_start(now) + 600;
    write_night_report(site, 3, start);
    std::filesystem::remove(site.path("/data/fits/d2.jpg"));
    f = night();
    ASSERT_EQ(f["index"]["rows"].size(), 3u);
    EXPECT_TRUE(f["index"]["rows"][0]["thumb"].get<std::string>().starts_with("/thumb/d1.jpg?v="));
    EXPECT_EQ(f["index"]["rows"][1]["thumb"], nullptr);
    const json& t = f["timeline"];
    EXPECT_EQ(t["t0"], start - 30); // yesterday's events are not of the night
    EXPECT_EQ(std::count_if(t["spans"].begin(), t["spans"].end(),
                            [](const json& s) { return s["kind"] == "exposure"; }),
              3);

    // Each file filled with garbage (how a cut or garbage text is read is
    // the parsers' unit test): its own part says so, the other stays.
    const std::string garbage("\xff\xfe<b>\0\x01\x7f\xc3(\n\n\n", 13);
    const std::vector<std::pair<std::string, std::string>> files = {
        {site.path("/data/fits/index.csv"), "index"},
        {site.path("/u/tarnu/qorlib/events.log"), "timeline"}};
    for (const auto& [file, part] : files) {
        const std::string other = part == "index" ? "timeline" : "index";
        const std::string good = qor::read_file(file).value();
        qor::replace_file(file, garbage);
        f = night();
        EXPECT_TRUE(f[other]["available"]) << part;
        EXPECT_FALSE(f[part]["available"]) << part;
        // Something other than a file where it belongs: no hang, no value.
        std::filesystem::remove(file);
        ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
        f = night();
        EXPECT_EQ(f[part]["why"], "cannot be read") << part;
        std::filesystem::remove(file);
        qor::replace_file(file, good);
    }
}

TEST_F(Facts, ANightsFilesAreReadOnlyFromTheirLastMegabyte) {
    ASSERT_TRUE(site.ok()) << site.error();
    const std::time_t now = std::time(nullptr);
    const double start = night_start(now) + 60;
    write_night_report(site, 1, start);
    // Some 40000 events of the night, and an index of the 20000 frames of
    // every night the folder has held, this one's last.
    std::string events;
    for (int i = 0; i < 20000; ++i)
        events += event_line(start + i, "expose", "d" + std::to_string(i) + ".ccd 1") +
                  event_line(start + i + 0.5, "fault", "the camera did not answer");
    qor::replace_file(site.path("/u/tarnu/qorlib/events.log"), events);
    const std::string index_file = site.path("/data/fits/index.csv");
    const std::string index = qor::read_file(index_file).value();
    const std::string row = index.substr(index.find('\n') + 1);
    std::string rows;
    for (int i = 0; i < 20000; ++i)
        rows +=
            std::regex_replace(row, std::regex(qor::iso_utc(start).substr(0, 10)), "2020-01-01");
    qor::replace_file(index_file, index.substr(0, index.find('\n') + 1) + rows + row);

    const std::string text = source.collect_night(now);
    EXPECT_LT(text.size(), 4u << 20);
    json f = json::parse(text);
    EXPECT_EQ(f["index"]["rows"].size(), 1u);
    EXPECT_NE(f["index"]["notes"].dump().find("other nights"), std::string::npos);
    const json& t = f["timeline"];
    EXPECT_GT(t["spans"].size(), 5000u);
    EXPECT_LT(t["spans"].size(), 20000u);
    // Each exposure with its fault, but perhaps the first.
    EXPECT_LE(t["marks"].size() - t["spans"].size(), 1u);
    EXPECT_NE(t["notes"].dump().find("only its last part was read"), std::string::npos);
}

TEST(StatusServer, AnswersItsOwnNamesOnlyAndNoPathReachesTheFiles) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    std::string error;
    int port = start_qorstatus(site, {}, error);
    ASSERT_GT(port, 0) << error;
    // A second server on the same port is refused, not let in beside it.
    EXPECT_EQ(site.run({"timeout", "10", QORSTATUS_PATH, std::to_string(port)}), 1);
    for (qor::Argv bad : {qor::Argv{}, qor::Argv{"--listen"}, qor::Argv{"70000"}}) {
        bad.insert(bad.begin(), QORSTATUS_PATH);
        EXPECT_EQ(site.run(bad), 2) << bad.size();
    }

    Answer page = raw_request(port, "GET", "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.head.find("Content-Security-Policy: default-src 'none'; script-src 'self'"),
              std::string::npos);
    for (const char* name : {"/status.js", "/status.css", "/status.json"})
        EXPECT_EQ(raw_request(port, "GET", name).status, 200) << name;
    EXPECT_EQ(raw_request(port, "GET", "/preview").status, 404); // none yet
    write_night(site, line, 5, false);
    EXPECT_EQ(raw_request(port, "GET", "/preview?v=1").body,
              qor::read_file(site.path("/u/tarnu/status/last2.jpg")));

    for (const char* target :
         {"/../../../../etc/passwd", "/..%2F..%2F..%2Fetc%2Fpasswd", "/%2e%2e/%2e%2e/etc/passwd",
          "/status.json/../../u/tarnu/FILTER", "/status.json%2F..%2F..%2Fu%2Ftarnu%2FFILTER",
          "/etc/passwd", "//etc/passwd", "/u/tarnu/FILTER", "/u/tarnu/status/telescope.txt",
          "/last2.jpg", "/preview%2F..%2Flast2.jpg", "/status%2ejson%2f", "/%00",
          "http://127.0.0.1/../etc/passwd"}) {
        Answer a = raw_request(port, "GET", target);
        EXPECT_EQ(a.status, 404) << target;
        EXPECT_EQ(a.body.find("U 1"), std::string::npos) << target;
    }
    for (const char* method : {"POST", "PUT", "DELETE"})
        EXPECT_EQ(raw_request(port, method, "/status.json").status, 405) << method;
}

TEST(StatusServer, ServesTheNightReportAndThumbnailsOnlyByTheirNames) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    write_night_report(site, 2, night_start(std::time(nullptr)) + 60);
    std::string error;
    int port = start_qorstatus(site, {}, error);
    ASSERT_GT(port, 0) << error;
    // The pages' files served as they are in web/assets/, every byte.
    for (auto [name, file] :
         std::vector<std::pair<std::string, std::string>>{{"/page.js", "page.js"},
                                                          {"/", "status.html"},
                                                          {"/status.css", "status.css"},
                                                          {"/status.js", "status.js"},
                                                          {"/night", "night.html"},
                                                          {"/night.css", "night.css"},
                                                          {"/night.js", "night.js"}}) {
        Answer a = raw_request(port, "GET", name);
        EXPECT_EQ(a.status, 200) << name;
        EXPECT_EQ(a.body, qor::read_file(QOR_WEB_ASSETS "/" + file)) << name;
    }
    EXPECT_EQ(raw_request(port, "GET", "/night.json").status, 200);
    EXPECT_NE(raw_request(port, "GET", "/night.js").head.find("Content-Type: text/javascript"),
              std::string::npos);
    const std::string fits = site.path("/data/fits/");
    Answer thumb = raw_request(port, "GET", "/thumb/d2.jpg?v=1");
    EXPECT_EQ(thumb.status, 200);
    EXPECT_EQ(thumb.body, qor::read_file(fits + "d2.jpg"));

    // A thumbnail being written (not yet a whole JPEG), and a folder by a
    // thumbnail's name.
    qor::replace_file(fits + "d3.jpg", thumb.body.substr(0, thumb.body.size() / 2));
    std::filesystem::create_directory(fits + "d4.jpg");
    qor::replace_file(fits + "notes.jpg", thumb.body);
    for (const char* target : {"/thumb/d3.jpg",
                               "/thumb/d4.jpg",
                               "/thumb/d9.jpg",
                               "/thumb/notes.jpg",
                               "/thumb/d1.ccd",
                               "/thumb/index.csv",
                               "/thumb/../fits/index.csv",
                               "/thumb/..%2Findex.csv",
                               "/thumb/%64%31.jpg",
                               "/thumb/d1.jpg/",
                               "/thumb/d1.jpg%00",
                               "/thumb/d1.jpg/..",
                               "/thumb//d1.jpg",
                               "/thumb/",
                               "/thumb",
                               "/thumbd1.jpg",
                               "/thumb/D1.jpg",
                               "/thumb/d12345678901.jpg",
                               "/night/",
                               "/night.json/../index.csv",
                               "/data/fits/d1.jpg"}) {
        Answer a = raw_request(port, "GET", target);
        EXPECT_EQ(a.status, 404) << target;
        EXPECT_EQ(a.body.find("JFIF"), std::string::npos) << target;
    }
    for (const char* target : {"/night.json", "/thumb/d1.jpg"})
        EXPECT_EQ(raw_request(port, "POST", target).status, 405) << target;
}
