// The status page in a real headless browser, driven through chromedriver's
// WebDriver protocol, during a simulated night: the telescope simulator and
// the link daemon keep telescope.txt and job.txt live, the simulated camera
// takes a frame, and the test plays the driver's part in the other files.
#include "files.h"
#include "status_site.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/stat.h>
#include <thread>

using nlohmann::json;
using qor::test::TempSite;
using namespace std::chrono_literals;
using namespace qstatus::test;

namespace {

std::string base64_decode(const std::string& in) {
    std::string out;
    int bits = 0, value = 0;
    for (char c : in) {
        int d = c >= 'A' && c <= 'Z'   ? c - 'A'
                : c >= 'a' && c <= 'z' ? c - 'a' + 26
                : c >= '0' && c <= '9' ? c - '0' + 52
                : c == '+'             ? 62
                : c == '/'             ? 63
                                       : -1;
        if (d < 0) continue;
        value = (value << 6) | d;
        if ((bits += 6) >= 8) out += static_cast<char>((value >> (bits -= 8)) & 0xff);
    }
    return out;
}

// One chromium session through chromedriver, both ended with the site.
class Browser {
  public:
    explicit Browser(TempSite& site) {
        std::string out = site.root() + "/chromedriver.out";
        site.start({"chromedriver", "--port=0"}, out);
        int port = 0;
        TempSite::wait_for(
            [&] {
                std::smatch m;
                std::string text = qor::read_file(out).value_or("");
                if (std::regex_search(text, m, std::regex("successfully on port ([0-9]+)")))
                    port = std::stoi(m[1]);
                return port > 0;
            },
            20s);
        if (port == 0) {
            error = "chromedriver did not start (scripts/bootstrap installs it): " +
                    qor::read_file(out).value_or("");
            return;
        }
        driver_ = std::make_unique<httplib::Client>("127.0.0.1", port);
        driver_->set_read_timeout(90, 0);
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
        json caps = {
            {"capabilities",
             {{"alwaysMatch",
               {{"goog:chromeOptions", {{"binary", "/usr/bin/chromium"}, {"args", args}}}}}}}};
        json answer = call("POST", "/session", caps);
        if (answer.contains("sessionId")) {
            session_ = "/session/" + answer["sessionId"].get<std::string>();
        } else {
            error = "no browser session: " + answer.dump();
        }
    }
    ~Browser() {
        if (!session_.empty()) call("DELETE", session_, nullptr);
    }
    bool ok() const { return !session_.empty(); }

    void go(const std::string& url) { call("POST", session_ + "/url", {{"url", url}}); }
    json script(const std::string& body, json args = json::array()) {
        return call("POST", session_ + "/execute/sync", {{"script", body}, {"args", args}});
    }
    std::string text(const std::string& id) {
        json v = script("const e = document.getElementById(arguments[0]);"
                        "return e && !e.closest('[hidden]') ? e.textContent : null;",
                        {id});
        return v.is_string() ? v.get<std::string>() : "";
    }
    // Waits until the element's text (shown, not hidden) satisfies the test.
    bool wait_text(const std::string& id, const std::function<bool(const std::string&)>& test,
                   std::chrono::seconds limit = 25s) {
        return TempSite::wait_for([&] { return test(text(id)); }, limit);
    }
    std::string screenshot() {
        json v = call("GET", session_ + "/screenshot", nullptr);
        return v.is_string() ? base64_decode(v.get<std::string>()) : "";
    }

    std::string error;

  private:
    json call(const std::string& method, const std::string& path, const json& body) {
        httplib::Result r = method == "GET" ? driver_->Get(path)
                            : method == "DELETE"
                                ? driver_->Delete(path)
                                : driver_->Post(path, body.dump(), "application/json");
        if (!r) return json();
        json answer = json::parse(r->body, nullptr, false);
        return answer.is_object() && answer.contains("value") ? answer["value"] : json();
    }

    std::unique_ptr<httplib::Client> driver_;
    std::string session_;
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
    ASSERT_TRUE(TempSite::wait_for(
        [&] { return qor::file_exists(site.path("/u/tarnu/status/telescope.txt")); }, 20s));

    // A batch line whose object name is markup: it must show as text.
    const std::string evil = "A001 V 10 3 05:35:17 -05:23:28 2000 1 1 512 512 0 s "
                             "<script>window.pwned=1</script><img/src=x/onerror=window.pwned=2>";
    const std::string next = "A002 R 60 4 05:35:17 -05:23:28 2000 1 1 512 512 0 s M1";
    const std::string batch = site.root() + "/tonight.bat";
    qor::replace_file(batch, "v   A000 V 30 2 05:35:17 -05:23:28 2000 1 1 512 512 0 s M42\n" +
                                 evil + "\n" + next + "\n");
    write_night(site, evil, 1, true);
    std::string error;
    int port = start_qorstatus(site, {"--batch", batch}, error);
    ASSERT_GT(port, 0) << error;

    Browser browser(site);
    ASSERT_TRUE(browser.ok()) << browser.error;
    browser.go("http://127.0.0.1:" + std::to_string(port) + "/");

    // Position and preview.
    const std::regex sexagesimal("[+-]?[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]");
    ASSERT_TRUE(browser.wait_text("ra", [&](auto& t) { return std::regex_match(t, sexagesimal); }))
        << browser.text("ra");
    EXPECT_TRUE(std::regex_match(browser.text("dec"), sexagesimal));
    const std::string width = "return document.getElementById('preview-img').naturalWidth;";
    EXPECT_TRUE(TempSite::wait_for([&] { return browser.script(width) == 512; }, 20s))
        << browser.script(width);
    EXPECT_EQ(browser.text("preview-frame"), "d1.ccd");
    EXPECT_EQ(browser.text("batch-done"), "1");

    // The markup is text on the page, and nothing of it ran or became an element.
    EXPECT_EQ(browser.text("line-text"), evil);
    EXPECT_EQ(browser.text("line-object"),
              "<script>window.pwned=1</script><img/src=x/onerror=window.pwned=2>");
    EXPECT_EQ(browser.script("return [document.scripts.length, typeof window.pwned, "
                             "document.images.length];"),
              json({1, "undefined", 1}));

    // The night goes on: the telescope's clock moves, and a frame is taken.
    std::string clock = browser.text("clock");
    EXPECT_TRUE(browser.wait_text("clock", [&](auto& t) { return !t.empty() && t != clock; }));
    std::string obsnum = site.key("setups.variables.obsnum.value").value_or("?");
    qor::replace_file(site.tool("fff.dat"), "1200\n0\n0\n512\n512\n0\nSlow\nM42\n");
    ASSERT_EQ(site.run({site.tool("fff")}), 0);
    EXPECT_TRUE(browser.wait_text("phase", [](auto& t) { return starts(t, "exposing"); }))
        << browser.text("phase");
    EXPECT_TRUE(browser.wait_text("job-frame",
                                  [&](auto& t) { return std::stoi("0" + t) == std::stoi(obsnum); }))
        << browser.text("job-frame") << " for " << obsnum;
    EXPECT_TRUE(
        browser.wait_text("left", [](auto& t) { return t.find(" s") != std::string::npos; }));

    std::string png = browser.screenshot();
    EXPECT_EQ(png.substr(1, 3), "PNG");
    std::filesystem::create_directories(QOR_ARTEFACT_DIR);
    qor::replace_file(QOR_ARTEFACT_DIR "/status-page.png", png);

    EXPECT_TRUE(browser.wait_text(
        "phase", [](auto& t) { return t == "idle"; }, 40s));
    EXPECT_TRUE(browser.wait_text("frames-tonight", [](auto& t) { return starts(t, "1 since"); }));
    EXPECT_EQ(browser.text("frames-latest"), "d" + obsnum + ".ccd");

    // The driver's part: the line is marked done and the next one begins.
    qor::replace_file(batch, "v   A000 V 30 2 x M42\nv   " + evil + "\n" + next + "\n");
    qor::replace_file(site.path("/u/tarnu/status/nowjob.txt"), next + "\n");
    qor::append_file(site.path("/u/tarnu/qorlib/obs.log"), next + "\n");
    EXPECT_TRUE(browser.wait_text("batch-done", [](auto& t) { return t == "2"; }));
    EXPECT_TRUE(browser.wait_text("line-object", [](auto& t) { return t == "M1"; }));
    EXPECT_TRUE(browser.wait_text("log-lines", [&](auto& t) {
        return t.size() >= next.size() && t.substr(t.size() - next.size()) == next;
    }));

    // The link stops: once the last record is older than 30 s the page says so.
    EXPECT_EQ(browser.text("stale"), "");
    kill(daemon, SIGTERM);
    std::this_thread::sleep_for(2s);
    std::time_t old = std::time(nullptr) - 60;
    timespec times[2] = {{old, 0}, {old, 0}};
    utimensat(AT_FDCWD, site.path("/u/tarnu/status/telescope.txt").c_str(), times, 0);
    EXPECT_TRUE(browser.wait_text("stale", [](auto& t) { return starts(t, "STALE"); }))
        << browser.text("stale");
}
