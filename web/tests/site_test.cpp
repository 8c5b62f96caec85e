// The status page's facts read from a simulated site, and the server's
// names, in a temporary site of their own.
#include "files.h"
#include "source.h"
#include "status_site.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

using nlohmann::json;
using qor::test::TempSite;
using namespace qstatus;
using namespace qstatus::test;

namespace {

const std::string evil_line = "A001 V 30 3 05:35:17 -05:23:28 2000 1 1 512 512 0 s "
                              "<script>alert(1)</script>";

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

    write_night(site, evil_line, 5, false);
    qor::replace_file(batch, "v   A000 V 30 2 x\n" + evil_line + "\nA002 R 60 4 y\n");
    f = facts();
    for (const auto& p : parts) EXPECT_TRUE(f[p]["available"]) << p;
    EXPECT_EQ(f["telescope"]["ra"], "01:01:24.5");
    EXPECT_EQ(f["telescope"]["filter_letter"], "V");
    EXPECT_EQ(f["exposure"]["phase"], "exposing");
    EXPECT_EQ(f["exposure"]["remaining_s"], 17);
    EXPECT_EQ(f["job"]["frame"], 5);
    EXPECT_EQ(f["line"]["text"], evil_line); // as text: the page shows it as such
    EXPECT_EQ(f["batch"]["done"], 1);
    EXPECT_EQ(f["batch"]["pending"], 2);
    EXPECT_EQ(f["batch"]["frames_pending"], 7);
    EXPECT_EQ(f["lastimage"]["frame"], "d5.ccd");
    EXPECT_EQ(f["log"]["lines"].back(), "filt_V");

    const std::string garbage("\xff\xfe<b>\0\x01\x7f\xc3(\n\n\n\n\n\n\n\n\n\n", 20);
    struct Case {
        std::string file;
        std::vector<std::string> parts; // the parts it feeds
        bool garbage_shown;             // a log shows any text it holds
    };
    const std::vector<Case> cases = {
        {status("telescope.txt"), {"telescope", "exposure"}, false},
        {status("job.txt"), {"job"}, false},
        {status("nowjob.txt"), {"line"}, false},
        {status("lastimage.txt"), {"lastimage"}, false},
        {status("last2.jpg"), {"preview"}, false},
        {batch, {"batch"}, false},
        {site.path("/u/tarnu/qorlib/obs.log"), {"log"}, true},
    };
    for (const auto& c : cases) {
        std::string good = qor::read_file(c.file).value();
        for (const std::string& bad : {std::string(), good.substr(0, good.size() / 2), garbage}) {
            qor::replace_file(c.file, bad);
            f = facts(); // parses: bytes that are not UTF-8 are replaced
            bool cut_but_whole = c.file == batch && bad != garbage && !bad.empty();
            for (const auto& p : parts) {
                bool fed = std::count(c.parts.begin(), c.parts.end(), p) > 0;
                bool shown = !fed || cut_but_whole || (c.garbage_shown && !bad.empty());
                EXPECT_EQ(f[p]["available"], shown) << c.file << " [" << bad.size() << "] " << p;
            }
        }
        qor::replace_file(c.file, good);
    }

    // A FIFO or a directory where a status file belongs: not available, no hang.
    std::filesystem::remove(status("telescope.txt"));
    ASSERT_EQ(mkfifo(status("telescope.txt").c_str(), 0600), 0);
    std::filesystem::remove(status("job.txt"));
    std::filesystem::create_directory(status("job.txt"));
    f = facts();
    EXPECT_FALSE(f["telescope"]["available"]);
    EXPECT_FALSE(f["job"]["available"]);
    EXPECT_TRUE(f["line"]["available"]);
}

TEST_F(Facts, StaleOnceNoRecordCameFor30Seconds) {
    ASSERT_TRUE(site.ok()) << site.error();
    write_night(site, evil_line, 5, false);
    std::time_t record = std::time(nullptr) - 100;
    set_mtime(status("telescope.txt"), record);
    EXPECT_FALSE(facts(record + 30)["stale"]);
    json f = facts(record + 31);
    EXPECT_TRUE(f["stale"]);
    EXPECT_EQ(f["status_age_s"], 31);
    EXPECT_TRUE(f["telescope"]["available"]); // still shown, with its age
    EXPECT_FALSE(facts(record - 5)["stale"]); // a clock set back is not stale
}

TEST_F(Facts, FramesTonightAreTheFrameFilesSinceNoon) {
    ASSERT_TRUE(site.ok()) << site.error();
    std::time_t noon = night_start(std::time(nullptr));
    auto frame = [&](const std::string& name, std::time_t t) {
        qor::replace_file(site.path("/data/" + name), "frame");
        set_mtime(site.path("/data/" + name), t);
    };
    frame("d1.ccd", noon + 3600);
    frame("d2.ccd", noon - 3600); // last night's
    frame("d3.ccd", noon + 7200);
    frame("d4.ccd.tmp", noon + 9000);
    frame("dx.ccd", noon + 9000);
    frame("d.ccd", noon + 9000);
    json f = facts(noon + 10000);
    EXPECT_EQ(f["frames"]["tonight"], 2);
    EXPECT_EQ(f["frames"]["latest"], "d3.ccd");

    frame("d5.ccd", noon + 9500);
    f = facts(noon + 10000);
    EXPECT_EQ(f["frames"]["tonight"], 3);
    EXPECT_EQ(f["frames"]["latest"], "d5.ccd");
    EXPECT_EQ(facts(noon + 86400 + 60)["frames"]["tonight"], 0); // the next night
}

TEST_F(Facts, PreviewIsTheNewestWholeImage) {
    ASSERT_TRUE(site.ok()) << site.error();
    write_night(site, evil_line, 5, false);
    std::string jpeg = qor::read_file(status("last2.jpg")).value();
    std::time_t t = std::time(nullptr);
    qor::replace_file(status("last1.jpg"), jpeg.substr(0, 100) + "\xFF\xD9");
    set_mtime(status("last1.jpg"), t - 5);
    // last2.jpg while convert writes it: newer, but not whole yet.
    qor::replace_file(status("last2.jpg"), jpeg.substr(0, jpeg.size() / 2));
    auto shown = source.preview();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->bytes.size(), 102u);
    std::string first = json::parse(source.collect(t))["preview"]["url"];

    qor::replace_file(status("last2.jpg"), jpeg);
    EXPECT_EQ(source.preview()->bytes, jpeg);
    EXPECT_NE(json::parse(source.collect(t))["preview"]["url"], first);
}

TEST(StatusServer, AnswersItsOwnNamesOnlyAndNoPathReachesTheFiles) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    std::string error;
    int port = start_qorstatus(site, {}, error);
    ASSERT_GT(port, 0) << error;

    Answer page = raw_request(port, "GET", "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.head.find("Content-Type: text/html"), std::string::npos);
    EXPECT_NE(page.head.find("Content-Security-Policy: default-src 'none'; script-src 'self'"),
              std::string::npos);
    EXPECT_NE(page.body.find("<script src=\"/status.js\""), std::string::npos);
    EXPECT_EQ(raw_request(port, "GET", "/status.js").status, 200);
    EXPECT_EQ(raw_request(port, "GET", "/status.css").status, 200);
    EXPECT_EQ(raw_request(port, "GET", "/preview").status, 404); // none yet
    Answer facts = raw_request(port, "GET", "/status.json");
    EXPECT_EQ(facts.status, 200);
    EXPECT_NE(facts.head.find("Content-Type: application/json"), std::string::npos);
    EXPECT_FALSE(json::parse(facts.body)["telescope"]["available"]);

    write_night(site, evil_line, 5, false);
    Answer image = raw_request(port, "GET", "/preview?v=1");
    EXPECT_EQ(image.status, 200);
    EXPECT_EQ(image.body, qor::read_file(site.path("/u/tarnu/status/last2.jpg")));

    for (const char* target :
         {"/../../../../etc/passwd", "/..%2F..%2F..%2Fetc%2Fpasswd", "/%2e%2e/%2e%2e/etc/passwd",
          "/status.json/../../u/tarnu/FILTER", "/status.json%2F..%2F..%2Fu%2Ftarnu%2FFILTER",
          "/etc/passwd", "//etc/passwd", "/u/tarnu/FILTER", "/u/tarnu/status/telescope.txt",
          "/last2.jpg", "/preview/../../FILTER", "/preview%2F..%2Flast2.jpg", "/status.jsonx",
          "/status%2ejson%2f", "/%00", "http://127.0.0.1/../etc/passwd"}) {
        Answer a = raw_request(port, "GET", target);
        EXPECT_EQ(a.status, 404) << target;
        EXPECT_EQ(a.body.find("U 1"), std::string::npos) << target;
        EXPECT_EQ(a.body.find("root:"), std::string::npos) << target;
    }
    for (const char* method : {"POST", "PUT", "DELETE"})
        EXPECT_NE(raw_request(port, method, "/status.json").status, 200) << method;
}

TEST(StatusServer, RefusesABadCommandLineAndAPortInUse) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    for (const qor::Argv& args : {qor::Argv{}, qor::Argv{"--listen"}, qor::Argv{"70000"},
                                  qor::Argv{"--port", "80"}, qor::Argv{"80", "81"}}) {
        qor::Argv argv{QORSTATUS_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_EQ(site.run(argv), 2) << argv.size();
    }

    std::string error;
    int port = start_qorstatus(site, {}, error);
    ASSERT_GT(port, 0) << error;
    EXPECT_EQ(site.run({"timeout", "10", QORSTATUS_PATH, std::to_string(port)}), 1);
    EXPECT_EQ(raw_request(port, "GET", "/").status, 200);
}
