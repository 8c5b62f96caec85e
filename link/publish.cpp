#include "publish.h"

#include "framing.h"
#include "site.h"
#include "status_line.h"
#include "telescope_file.h"

#include <cmath>
#include <ctime>

namespace qlink {

void Publisher::log_position(std::string_view line) {
    std::string log = qor::site_path("/u/tarnu/qorlib/kerade.dat");
    // The night's window runs from 17 h to "30 h", as the telescope computer counts past midnight.
    auto seconds = qor::clock_seconds(line);
    int hour = seconds ? *seconds / 3600 : -1;
    if (hour < 17 || hour > 30) {
        ontime = 0;
        return;
    }
    if (ontime == 0) {
        auto info = sys_.stat(log);
        if (info && info->size / 1000 > 300) {
            sys_.rename_file(log, qor::site_path("/u/tarnu/qorlib/kerade.old"));
        }
        // What "date >> kerade.dat" would add.
        std::time_t t = static_cast<std::time_t>(std::floor(sys_.now()));
        std::tm tm{};
        localtime_r(&t, &tm);
        char buf[80];
        std::strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Z %Y\n", &tm);
        sys_.append_file(log, buf);
    }
    ontime = 1;
    sys_.append_file(log, qor::position_log_line(line));
}

std::string Publisher::publish(std::string_view record, bool echo) {
    std::string line(c_text(record.substr(1)));
    log_position(line);
    if (echo) sys_.print(c_text(record));
    qor::Argv argv{qor::tool_path("keyset"), "v1"};
    for (auto& w : qor::command_words(line)) argv.push_back(std::move(w));
    sys_.run(argv);
    v1 = line.substr(0, 80);
    return line;
}

std::string Publisher::getexpo(int now, int expt, float rect, bool& known) {
    auto got = sys_.capture({qor::tool_path("exp3")}, 99);
    std::string_view out = c_text(got.out);
    // The three stamps and their separators fill the first 65 characters of
    // one line; anything less says nothing about the camera, and must not
    // be read as "an exposure has started".
    known = !got.timed_out && out.size() >= 65 && out.substr(0, 65).find('\n') == out.npos;
    if (!known) {
        if (!exp3_said_) sys_.print("exp3 gave no exposure state: job state kept\n");
        exp3_said_ = true;
        return std::string(out.substr(0, std::min<std::size_t>(out.find('\n'), 65)));
    }
    exp3_said_ = false;
    return phase_text(out, now, expt, rect, expo);
}

void Publisher::write_status_file(std::string_view line, std::string_view phase) {
    sys_.replace_file(qor::site_path("/u/tarnu/status/telescope.txt"),
                      qor::telescope_file_text(line, expo.temperature, expo.queued, phase));
}

} // namespace qlink
