#include "job.h"

#include "framing.h"
#include "site.h"
#include "status_line.h"
#include "text.h"

namespace qlink {

namespace {

std::string varshow_text(qor::System& sys, const char* group, const char* name) {
    return std::string(c_text(sys.capture({qor::tool_path("varshow"), group, name}, 80).out));
}

} // namespace

JobStep next_job(const JobState& state, const Dome& dome, qor::Phase phase, int restime) {
    using qor::Phase;
    JobStep next{state, dome, {}};
    // A request is raised once (counter 1) and stays raised until the send
    // phase takes it (counter 2): status records come faster than send
    // phases, and a request passed over would never reach the dome.
    if (phase == Phase::exposing && restime > 0 && restime <= 24) {
        if (next.dome.stop_dome == 0) next.dome.stop_dome = 1;
        next.dome.startdome = 0;
    }
    next.state.rect = phase == Phase::reading_out ? state.rect + 3.1f : 0;
    if (phase == Phase::idle) {
        next.dome.stop_dome = 0;
        if (next.dome.startdome == 0) next.dome.startdome = 1;
    }
    next.state.phase = phase;
    if (state.phase == phase) return next;
    next.actions.changed = true;
    next.actions.describe = phase == Phase::exposing;
    next.actions.finished = phase == Phase::idle;
    // The first reading after start-up finds the camera as an earlier
    // instance left it: an idle camera then has no new frame to show.
    next.actions.preview = phase == Phase::idle && state.phase.has_value();
    return next;
}

int job_number(std::optional<qor::Phase> phase) {
    if (!phase) return 0;
    switch (*phase) {
    case qor::Phase::exposing:
        return 1;
    case qor::Phase::reading_out:
        return 2;
    case qor::Phase::idle:
        return 3;
    }
    return 0;
}

std::optional<int> JobTracker::tool_int(const char* group, const char* name) {
    return qor::read_int(varshow_text(sys_, group, name));
}

void JobTracker::read_obsnum() {
    if (auto n = tool_int("variables", "obsnum")) obsnum_ = *n;
}

void JobTracker::track(std::string_view phase, std::string_view v1, const Expo& expo) {
    JobStep step = next_job(state_, dome_, qor::phase_of(phase), expo.restime);
    state_ = step.state;
    dome_ = step.dome;
    const JobActions& act = step.actions;
    if (act.changed) {
        if (auto f = qor::beam_filter(v1)) filter_ = *f > 9999 ? 0 : *f;
    }
    // The mailbox is left alone when an exposure starts: clearing the
    // counters would wipe a command posted and not yet taken (the driver's
    // next one, or the first of a driver started meanwhile).
    if (act.describe) checkname(v1, expo.queued);
    if (act.finished) sys_.remove_file(qor::site_path("/u/tarnu/status/job.txt"));
    // 0 is a valid observation number; only -1 means none was read.
    if (act.preview && obsnum_ >= 0) {
        sys_.background({qor::tool_path("newimage2"), std::to_string(obsnum_)});
    }
}

void JobTracker::checkname(std::string_view v1, int queued) {
    char letter = ' ';
    for (const auto& line :
         qor::lines_of(sys_.read_file(qor::site_path("/u/tarnu/FILTER")).value_or(""))) {
        if (line.size() < 3) continue;
        auto n = qor::read_int(std::string_view(line).substr(2, 77));
        if (n && *n == filter_) {
            letter = line[0];
            break;
        }
    }

    read_obsnum();
    std::string object = varshow_text(sys_, "object", "0");

    std::string block;
    auto names = qor::lines_of(sys_.read_file(qor::site_path("/u/tarnu/NAME")).value_or(""));
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
        // The telescope's own position: right ascension, and the sign and
        // dd:mm:ss. of the declination, ten characters each.
        qor::StatusFields f = qor::split_status_line(v1);
        std::string ra = f.ra, dec = f.dec.substr(0, 10);
        ra.resize(10, ' ');
        dec.resize(10, ' ');
        block = "NONE\n" + ra + " " + dec + "\n" + object;
    }
    if (block.back() != '\n') block += '\n';

    auto netjob_file = sys_.read_file(qor::site_path("/u/tarnu/status/netjob.log"));
    std::string netjob(c_text(first_line(netjob_file.value_or(""), 79)));
    if (netjob.empty() || netjob.back() != '\n') netjob += '\n';

    if (auto e = tool_int("exposure", "0")) expt_ = *e / 100;
    if (auto r = tool_int("nr", "0")) rows_ = *r;
    if (auto c = tool_int("nc", "0")) cols_ = *c;

    char num[16];
    std::snprintf(num, sizeof num, "%03d", obsnum_);
    std::string text = num;
    text += queued > 10 ? " " + netjob : "\n";
    text += block;
    if (filter_ != 0)
        text += std::to_string(filter_) + " " + letter + "\n";
    else
        text += "?\n";
    text += std::to_string(expt_) + "\n";
    text += std::to_string(rows_) + " x " + std::to_string(cols_) + "\n";
    sys_.replace_file(qor::site_path("/u/tarnu/status/job.txt"), text);
}

} // namespace qlink
