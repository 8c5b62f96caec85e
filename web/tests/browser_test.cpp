// The status page in a real headless browser, driven through chromedriver's
// WebDriver protocol, during a simulated night: the telescope simulator and
// the link daemon keep telescope.txt and job.txt live, the simulated camera
// takes a frame, and the test plays the batch driver's part.
#include "files.h"
#include "source.h"
#include "status_site.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/stat.h>

using nlohmann::json;
using qor::test::TempSite;
using namespace std::chrono_literals;
using namespace qstatus::test;

namespace {

// One chromium session through chromedriver; the site's end stops both.
// The browser is in another time zone than the site, as an observer's
// laptop may be.
struct Browser {
    int driver = 0; // chromedriver's port
    std::string session, error;

    explicit Browser(TempSite& site) {
        std::string out = site.root() + "/chromedriver.out";
        site.start({"env", "TZ=Pacific/Chatham", "chromedriver", "--port=0"}, out);
        std::string text;
        std::smatch port;
        TempSite::wait_for(
            [&] {
                text = qor::read_file(out).value_or("");
                return std::regex_search(text, port, std::regex("successfully on port ([0-9]+)"));
            },
            20s);
        if (port.empty()) {
            error = "no chromedriver (scripts/bootstrap installs it): " +
                    qor::read_file(out).value_or("");
            return;
        }
        driver = std::stoi(port[1]);
        json args = {"--headless",
                     "--no-sandbox",
                     "--disable-gpu",
                     "--disable-quic",
                     "--no-first-run",
                     "--disable-background-networking",
                     "--disable-component-update",
                     "--disable-sync",
                     "--window-size=1280,1100",
                     "--user-data-dir=" + site.root() + "/chromium-profile"};
        json options = {{"binary", "/usr/bin/chromium"}, {"args", args}};
        json v = call("/session",
                      {{"capabilities", {{"alwaysMatch", {{"goog:chromeOptions", options}}}}}});
        if (v.contains("sessionId")) session = "/session/" + v["sessionId"].get<std::string>();
        error = v.dump();
    }
    ~Browser() {
        if (!session.empty()) http(driver, "DELETE", session, "", "", 90);
    }
    json call(const std::string& path, const json& body) {
        Answer r = body.is_null() ? http(driver, "GET", path, "", "", 90)
                                  : http(driver, "POST", path, body.dump(), "", 90);
        json answer = json::parse(r.body, nullptr, false);
        return answer.contains("value") ? answer["value"] : json();
    }
    json script(const std::string& body, json args = json::array()) {
        return call(session + "/execute/sync", {{"script", body}, {"args", args}});
    }
    // The element's text while it is shown; "" while it or a parent is hidden.
    std::string text(const std::string& id) {
        json v = script("const e = document.getElementById(arguments[0]);"
                        "return e && !e.closest('[hidden]') ? e.textContent : '';",
                        {id});
        return v.is_string() ? v.get<std::string>() : "";
    }
    bool wait_text(const std::string& id, const std::function<bool(const std::string&)>& test) {
        return TempSite::wait_for([&] { return test(text(id)); }, 40s);
    }
};

bool starts(const std::string& s, const std::string& prefix) {
    return s.rfind(prefix, 0) == 0;
}

} // namespace

TEST(StatusPage, ShowsTheSimulatedNightLiveInABrowser) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    ASSERT_EQ(site.run({"scopesim", "--daemon", "--status-interval", "1", "--ti-interval", "0"}),
              0);
    pid_t daemon = site.start({site.tool("telelink")}, site.root() + "/telelink.out");

    // A batch line whose object name (43 characters at most) is markup: it
    // must show as text.
    const std::string evil = "A001 V 10 3 05:35:17 -05:23:28 2000 1 1 512 512 0 s "
                             "<img/src=x/onerror=pwned=2><script>pwned=1";
    const std::string next = "A002 R 60 4 05:35:17 -05:23:28 2000 1 1 512 512 0 s M1";
    const std::string batch = site.root() + "/tonight.bat";
    qor::replace_file(batch, "v   A000 V 30 2 x M42\n" + evil + "\n" + next + "\n");
    write_night(site, evil, 1, true);
    std::string error;
    int port = start_qorstatus(site, {"--batch", batch}, error);
    ASSERT_GT(port, 0) << error;
    Browser browser(site);
    ASSERT_FALSE(browser.session.empty()) << browser.error;
    browser.call(browser.session + "/url",
                 {{"url", "http://127.0.0.1:" + std::to_string(port) + "/"}});

    // Position, preview, and the markup as text that neither ran nor became elements.
    const std::regex sexagesimal("[+-]?[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]");
    ASSERT_TRUE(browser.wait_text("ra", [&](auto& t) { return std::regex_match(t, sexagesimal); }));
    EXPECT_TRUE(std::regex_match(browser.text("dec"), sexagesimal));
    const std::string width = "return document.getElementById('preview-img').naturalWidth;";
    EXPECT_TRUE(TempSite::wait_for([&] { return browser.script(width) == 512; }, 20s));
    EXPECT_EQ(browser.text("preview-frame"), "d1.ccd");
    EXPECT_EQ(browser.text("preview-of"), "d1.ccd");
    // The preview is shown at its own 512 pixels where the window allows.
    EXPECT_EQ(browser.script("return document.getElementById('preview-img').clientWidth;"), 512);
    // One 24-hour clock on the page, as the site's time is.
    EXPECT_TRUE(
        std::regex_match(browser.text("updated"), std::regex("[0-2][0-9]:[0-5][0-9]:[0-5][0-9]")))
        << browser.text("updated");
    EXPECT_EQ(browser.text("line-text"), evil);
    EXPECT_EQ(browser.script("return [document.scripts.length, typeof pwned, "
                             "document.images.length];"),
              json({2, "undefined", 1}));

    // The night goes on: the telescope's clock moves, and a frame is taken.
    std::string clock = browser.text("clock");
    EXPECT_TRUE(browser.wait_text("clock", [&](auto& t) { return !t.empty() && t != clock; }));
    std::string obsnum = site.key("setups.variables.obsnum.value").value_or("?");
    qor::replace_file(site.tool("fff.dat"), "1200\n0\n0\n512\n512\n0\nSlow\nM42\n");
    ASSERT_EQ(site.run({site.tool("fff")}), 0);
    EXPECT_TRUE(browser.wait_text("phase", [](auto& t) { return t == "exposing"; }));
    EXPECT_TRUE(browser.wait_text("job-frame", [&](auto& t) { return t == obsnum; }));
    EXPECT_TRUE(browser.wait_text("left", [](auto& t) { return t.ends_with(" s"); }));
    json png = browser.call(browser.session + "/screenshot", nullptr);
    qor::replace_file(site.root() + "/shot.b64", png.is_string() ? png.get<std::string>() : "");
    std::filesystem::create_directories(QOR_ARTEFACT_DIR);
    qor::replace_file(QOR_ARTEFACT_DIR "/status-page.png",
                      site.capture({"base64", "-d", site.root() + "/shot.b64"}, 1 << 24).out);

    EXPECT_TRUE(browser.wait_text("phase", [](auto& t) { return t == "idle"; }));
    // Between exposures no frame is being taken, and that is no alarm.
    EXPECT_TRUE(browser.wait_text("job-idle", [](auto& t) { return !t.empty(); }));
    EXPECT_EQ(browser.script("return document.querySelector('#job .na').hidden;"), true);
    EXPECT_TRUE(browser.wait_text("frames-tonight", [](auto& t) { return starts(t, "1 since"); }));
    EXPECT_EQ(browser.text("frames-latest"), "d" + obsnum + ".ccd");
    // ccdpeek, started by the link, makes the new frame's preview; until
    // then the page marks the one shown as older.
    EXPECT_TRUE(
        browser.wait_text("preview-of", [&](auto& t) { return t == "d" + obsnum + ".ccd"; }))
        << browser.text("preview-of") << " " << browser.text("preview-newer");
    EXPECT_EQ(browser.text("preview-newer"), "");

    // The driver marks the line done and begins the next.
    qor::replace_file(batch, "v   A000 V 30 2 x M42\nv   " + evil + "\n" + next + "\n");
    qor::replace_file(site.path("/u/tarnu/status/nowjob.txt"), next + "\n");
    qor::append_file(site.path("/u/tarnu/qorlib/obs.log"), next + "\n");
    EXPECT_TRUE(browser.wait_text("batch-done", [](auto& t) { return t == "2"; }));
    EXPECT_TRUE(browser.wait_text("line-object", [](auto& t) { return t == "M1"; }));
    EXPECT_TRUE(browser.wait_text("log-lines", [&](auto& t) { return t.ends_with(next); }));
    // After the last line nowjob.txt still holds it: the page says the
    // batch is finished instead.
    qor::replace_file(batch, "v   A000 V 30 2 x M42\nv   " + evil + "\nv   " + next + "\n");
    EXPECT_TRUE(browser.wait_text("line-finished", [](auto& t) { return !t.empty(); }));
    EXPECT_EQ(browser.text("line-object"), "");

    // The link stops: once its last record is older than 30 s the page says so.
    EXPECT_EQ(browser.text("stale"), "");
    kill(daemon, SIGTERM);
    TempSite::wait_for([] { return false; }, 2s);
    std::time_t old = std::time(nullptr) - 60;
    timespec times[2] = {{old, 0}, {old, 0}};
    utimensat(AT_FDCWD, site.path("/u/tarnu/status/telescope.txt").c_str(), times, 0);
    EXPECT_TRUE(browser.wait_text("stale", [](auto& t) { return starts(t, "STALE"); }));
}

TEST(NightReport, ShowsTheNightsFramesAndWhereItsTimeWentInABrowser) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    const std::time_t now = std::time(nullptr);
    const double start = std::max<double>(qstatus::night_start(now) + 60, now - 3600);
    // Markup in the first frame's object and in a fault: shown as text.
    const std::string evil = "<img/src=x/onerror=window.pwned=1>";
    write_night_report(site, 12, start, evil);
    std::filesystem::remove(site.path("/data/fits/d3.jpg"));
    const std::string events = site.path("/u/tarnu/qorlib/events.log");
    std::string more = event_line(start + 130, "fault", "<b>fff failed</b>") + "garbage\n";
    // A burst of faults within a few seconds: one mark that says how many.
    for (int i = 0; i < 300; ++i) more += event_line(start + 600 + i * 0.01, "fault", "again");
    qor::append_file(events, more);
    std::string error;
    int port = start_qorstatus(site, {}, error);
    ASSERT_GT(port, 0) << error;
    Browser browser(site);
    ASSERT_FALSE(browser.session.empty()) << browser.error;
    browser.call(browser.session + "/url",
                 {{"url", "http://127.0.0.1:" + std::to_string(port) + "/night"}});

    // The index: a row a frame, its thumbnail or "none", the markup as text.
    ASSERT_TRUE(browser.wait_text("index-count", [](auto& t) { return t == "12 frames"; }));
    json cells = browser.script("return [...document.querySelectorAll('#frame-rows tr')]"
                                ".map(tr => [...tr.cells].map(c => c.textContent));");
    ASSERT_EQ(cells.size(), 12u);
    EXPECT_EQ(cells[0][1], "d1.ccd");
    EXPECT_EQ(cells[0][4], evil);
    EXPECT_EQ(cells[2][0], "none");
    EXPECT_EQ(cells[11][1], "d12.ccd");
    EXPECT_TRUE(std::regex_match(cells[0][2].get<std::string>(),
                                 std::regex("[0-2][0-9]:[0-5][0-9]:[0-5][0-9]")));
    const std::string first_thumb =
        "return document.querySelector('#frame-rows img').naturalWidth;";
    EXPECT_TRUE(TempSite::wait_for([&] { return browser.script(first_thumb) == 256; }, 20s));
    EXPECT_EQ(browser.script("return [document.querySelectorAll('#frame-rows img').length, "
                             "typeof window.pwned, document.querySelectorAll('b').length];"),
              json({11, "undefined", 0}));

    // The timeline: a bar an exposure, slew and read-out, the filter change,
    // one batch line (yesterday's is not of the night) and the fault with
    // its message as the title.
    json bars = browser.script(R"(const n = {};
        for (const r of document.querySelectorAll('#chart rect.bar'))
          n[r.classList[1]] = (n[r.classList[1]] || 0) + 1;
        return n;)");
    EXPECT_EQ(bars, json({{"k-exposure", 12}, {"k-readout", 12}, {"k-slew", 12}, {"k-filter", 1}}));
    EXPECT_EQ(browser.script("return [...document.querySelectorAll('#chart path.mark')]"
                             ".map(m => m.classList[1]);"),
              json({"k-fault", "k-fault", "k-line"}));
    json burst =
        browser.script("return document.querySelectorAll('#chart path.k-fault')[1].textContent;");
    EXPECT_TRUE(burst.is_string() && starts(burst.get<std::string>(), "300 faults")) << burst;
    EXPECT_NE(browser.script("return document.querySelector('#chart path.k-fault').textContent;")
                  .get<std::string>()
                  .find("<b>fff failed</b>"),
              std::string::npos);
    // The axis in the site's 24-hour time, and the sums in words.
    json ticks = browser.script(
        "return [...document.querySelectorAll('#chart .axis text')].map(t => t.textContent);");
    EXPECT_GE(ticks.size(), 4u);
    for (const auto& t : ticks)
        EXPECT_TRUE(std::regex_match(t.get<std::string>(), std::regex("[0-2][0-9]:[0-5][0-9]")))
            << t;
    std::time_t first = static_cast<std::time_t>(start - 30);
    std::tm site_tm{};
    localtime_r(&first, &site_tm);
    char from[32];
    std::strftime(from, sizeof from, "From %H:%M to ", &site_tm);
    EXPECT_TRUE(starts(browser.text("totals"), from)) << browser.text("totals");
    EXPECT_NE(browser.text("totals").find("exposing 12 min 00 s"), std::string::npos)
        << browser.text("totals");
    EXPECT_EQ(browser.text("timeline-notes"), "1 line not in the events' form left out");
    json png = browser.call(browser.session + "/screenshot", nullptr);
    qor::replace_file(site.root() + "/shot.b64", png.is_string() ? png.get<std::string>() : "");
    std::filesystem::create_directories(QOR_ARTEFACT_DIR);
    qor::replace_file(QOR_ARTEFACT_DIR "/night-report.png",
                      site.capture({"base64", "-d", site.root() + "/shot.b64"}, 1 << 24).out);

    // The log damaged: the timeline says so, the index stays. Then the night
    // goes on: a frame more, and the rows already shown are kept as they are.
    browser.script("document.querySelector('#frame-rows tr').kept = true;");
    const std::string good = qor::read_file(events).value();
    qor::replace_file(events, "\xff\xfe garbage\n");
    EXPECT_TRUE(browser.wait_text("timeline", [](auto& t) {
        return t.find("not available: /u/tarnu/qorlib/events.log holds no events in their form") !=
               std::string::npos;
    })) << browser.text("timeline");
    EXPECT_EQ(browser.text("index-count"), "12 frames");
    write_night_report(site, 13, start, evil);
    EXPECT_TRUE(browser.wait_text("index-count", [](auto& t) { return t == "13 frames"; }));
    EXPECT_EQ(browser.script("return document.querySelector('#frame-rows tr').kept === true;"),
              true);
    EXPECT_TRUE(TempSite::wait_for(
        [&] {
            return browser.script(
                       "return document.querySelectorAll('#chart rect.bar.k-exposure').length;") ==
                   13;
        },
        40s));
}
