#include "job.h"

#include "framing.h"
#include "site.h"
#include "text.h"

namespace qlink {

namespace {

std::vector<std::string> lines_of(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::string varshow_text(qor::System& sys, const char* group, const char* name) {
    return std::string(c_text(sys.capture({qor::tool_path("varshow"), group, name}, 80).out));
}

} // namespace

std::optional<int> JobTracker::tool_int(const char* group, const char* name) {
    return qor::read_int(varshow_text(sys_, group, name));
}

void JobTracker::read_obsnum() {
    if (auto n = tool_int("variables", "obsnum")) obsnum = *n;
}

void JobTracker::track(std::string_view phase, std::string_view v1, const Expo& expo) {
    job = job_state(phase.size());
    // A request is raised once (counter 1) and stays raised until the send
    // phase takes it (counter 2): status records come faster than send
    // phases, and a request passed over would never reach the dome.
    if (job == 1 && expo.restime > 0 && expo.restime <= 24) {
        if (dome_.stop_dome == 0) dome_.stop_dome = 1;
        dome_.startdome = 0;
    }
    if (job == 2)
        rect += 3.1f;
    else
        rect = 0;
    if (job == 3) {
        dome_.stop_dome = 0;
        if (dome_.startdome == 0) dome_.startdome = 1;
    }
    if (job != prev_job) {
        // The filter number stands alone at 56-59, as telescope.txt shows it;
        // the characters after it are other fields.
        if (v1.size() > 56) {
            if (auto f = qor::read_int(v1.substr(56, 4))) filter = *f > 9999 ? 0 : *f;
        }
        // The mailbox is left alone when an exposure starts: clearing the
        // counters would wipe a command posted and not yet taken (the
        // driver's next one, or the first of a driver started meanwhile).
        if (job == 1) {
            checkname(v1, expo.vv);
        } else if (job == 3) {
            sys_.remove_file(qor::site_path("/u/tarnu/status/job.txt"));
            // The first reading after start-up finds the camera as an earlier
            // instance left it: an idle camera then has no new frame to show.
            // 0 is a valid observation number; only -1 means none was read.
            if (prev_job != 0 && obsnum >= 0) {
                sys_.background({qor::tool_path("newimage2"), std::to_string(obsnum)});
            }
        }
    }
    prev_job = job;
}

void JobTracker::checkname(std::string_view v1, int vv) {
    char letter = ' ';
    for (const auto& line :
         lines_of(sys_.read_file(qor::site_path("/u/tarnu/FILTER")).value_or(""))) {
        if (line.size() < 3) continue;
        auto n = qor::read_int(std::string_view(line).substr(2, 77));
        if (n && *n == filter) {
            letter = line[0];
            break;
        }
    }

    read_obsnum();
    std::string object = varshow_text(sys_, "object", "0");

    std::string block;
    auto names = lines_of(sys_.read_file(qor::site_path("/u/tarnu/NAME")).value_or(""));
    for (std::size_t i = 1; i < names.size(); ++i) {
        std::string line = names[i] + "\n";
        if (line.size() >= 36 && line.compare(36, object.size(), object) == 0) {
            line[4] = '\n';
            line[35] = '\n';
            block = line;
            break;
        }
    }
    if (block.empty()) {
        auto part = [&](std::size_t pos) {
            std::string s(pos < v1.size() ? v1.substr(pos, 10) : "");
            s.resize(10, ' ');
            return s;
        };
        block = "NONE\n" + part(20) + " " + part(30) + "\n" + object;
    }
    if (block.back() != '\n') block += '\n';

    auto netjob_file = sys_.read_file(qor::site_path("/u/tarnu/status/netjob.log"));
    std::string netjob(c_text(first_line(netjob_file.value_or(""), 79)));
    if (netjob.empty() || netjob.back() != '\n') netjob += '\n';

    if (auto e = tool_int("exposure", "0")) expt = *e / 100;
    if (auto r = tool_int("nr", "0")) rows = *r;
    if (auto c = tool_int("nc", "0")) cols = *c;

    char num[16];
    std::snprintf(num, sizeof num, "%03d", obsnum);
    std::string text = num;
    text += vv > 10 ? " " + netjob : "\n";
    text += block;
    if (filter != 0)
        text += std::to_string(filter) + " " + letter + "\n";
    else
        text += "?\n";
    text += std::to_string(expt) + "\n";
    text += std::to_string(rows) + " x " + std::to_string(cols) + "\n";
    sys_.replace_file(qor::site_path("/u/tarnu/status/job.txt"), text);
}

} // namespace qlink
