// One frame: the pointing error, exp.dat, and the exposure itself.
#include "driver.h"

#include "files.h"
#include "frame_record.h"
#include "site.h"
#include "status_line.h"
#include "text.h"

#include <cstdlib>

namespace qobs {

namespace {

std::optional<int> observation_number(std::string_view text) {
    std::string t(text.substr(0, 32));
    char* end = nullptr;
    long n = std::strtol(t.c_str(), &end, 10);
    if (end == t.c_str() || n < 0 || n > 999999999) return std::nullopt;
    return static_cast<int>(n);
}

std::string frame_name(int obsnum) {
    return "d" + std::to_string(obsnum) + ".ccd";
}

} // namespace

// A status line without a readable position gives the largest error, so
// the move is posted rather than a frame taken at an unknown place.
int Driver::jrd() {
    auto position = qor::telescope_position(getvar2("qor", "v1"));
    return position ? pointing_error(*position, a_ra, a_dec) : 900;
}

// The frame is named by this number; without one there is nothing to wait
// for. A camera database that does not answer for a while (a hung tool is
// ended at its limit) is waited for, and the operator asked after as long
// as a telescope command gets: an unattended night is never ended by it.
Step Driver::read_obsnum(std::string& text) {
    text = getvar2("variables", "obsnum");
    for (int polls = 0; !observation_number(text);) {
        if (polls == 0) {
            std::string shown = text.substr(0, text.find('\n'));
            warn("no observation number from varshow variables obsnum (" +
                 (shown.empty() ? "nothing" : qor::printable(shown)) + "): trying again every 2 s\n");
            note("wait", "observation number");
        } else if (polls % 15 == 0) {
            sys_.print("still no observation number (" + std::to_string(polls * 2) + " s)\n");
        }
        sys_.sleep(2);
        if (++polls > 145) {
            switch (ask_operator()) {
            case Answer::quit:
                return Stop{};
            case Answer::ignore:
                sys_.print("an exposure cannot be named without an observation number: waiting\n");
                break;
            default:
                break;
            }
            polls = 1;
        }
        text = getvar2("variables", "obsnum");
    }
    return std::nullopt;
}

std::string Driver::write_expdat(const BatchLine& line, const std::string& number) {
    std::string status = getvar2("qor", "v1");
    // The instrument state, the telescope's right ascension, and the sign,
    // dd:mm:ss and the character after them of its declination.
    qor::StatusFields f = qor::split_status_line(status);
    std::string text = number + f.instrument + "\n" + line.code + "\n" + f.ra + "\n" +
                       f.dec.substr(0, 10) + "\n" + object_text(line.text) + std::to_string(nsc) +
                       " " + std::to_string(nsr);
    if (qor::Done d = sys_.replace_file(qor::tool_path("exp.dat"), text); !d) {
        sys_.print("cannot write " + qor::tool_path("exp.dat") + ": " + d.why() + "\n");
    }
    return status;
}

// What the frame is of, beside it (/data/dN.json), written when its
// exposure has started: nothing about the frame then depends on exp.dat
// surviving the next one. A record that cannot be written costs the frame
// nothing but its description: the FITS copy then reads its own header.
void Driver::write_record(const BatchLine& line, int obsnum, const std::string& status) {
    qor::FrameRecord r;
    r.frame = frame_name(obsnum);
    r.obsnum = obsnum;
    r.batch_file = batch_path;
    r.line_number = line_number_;
    r.line = line.text.substr(0, line.text.find('\n'));
    r.frame_index = frame_of_line_;
    r.frames_in_line = std::max(frames_of_line_, frame_of_line_ + 1);
    r.object = line.object;
    r.ra_j2000 = pointing_.ra_text;
    r.dec_j2000 = pointing_.dec_text;
    r.ra_deg = static_cast<double>(pointing_.ra2000) * 15;
    r.dec_deg = pointing_.dec2000;
    qor::StatusFields f = qor::split_status_line(status);
    r.ra_telescope = f.ra;
    r.dec_telescope = f.dec.substr(0, 10);
    r.telescope_equinox = a_ep;
    r.filter = line.filter.size() == 1
                   ? line.filter
                   : std::string(1, filters.letter_of(filter_.wanted).value_or('?'));
    r.filter_number = filter_.wanted;
    r.exposure = line.seconds;
    r.readout = line.speed[0] == 'f' ? "Fast" : line.speed[0] == 'm' ? "Medium" : "Slow";
    r.window = line.setup;
    r.observers = observers_;
    double now = sys_.now();
    r.utc_start = qor::iso_utc(now);
    r.jd_start = qor::julian_date(now);
    r.build = build_.name;
    std::string path = qor::frame_record_path(obsnum);
    if (qor::Done d = sys_.replace_file(path, qor::to_json(r)); !d) {
        sys_.print("cannot write " + path + ": " + d.why() + "\n");
    }
}

Step Driver::producexpdat(const BatchLine& line, int& obsnum, int& seconds) {
    std::string number;
    if (Step s = read_obsnum(number)) return s;
    obsnum = *observation_number(number);
    status_ = write_expdat(line, number);
    seconds = exposure_seconds(line);
    return std::nullopt;
}

// A refused start (the camera still busy, with the last frame or with an
// exposure an earlier run started) may move the number on: the frame of the
// exposure that starts is the number the camera shows now. The frames in
// between were not taken by this run and are noted, never claimed.
void Driver::renumber(const BatchLine& line, int& obsnum) {
    std::string number = getvar2("variables", "obsnum");
    auto n = observation_number(number);
    if (!n || *n == obsnum) return;
    for (int k = obsnum; k < *n && k < obsnum + 100; ++k) {
        write2log("frame " + frame_name(k) + ": taken by an exposure this run did not start; not" +
                  " claimed for line " + std::to_string(line_number_));
    }
    warn("the camera's observation number is now " + std::to_string(*n) +
         ": this exposure will be " + frame_name(*n) + "\n");
    obsnum = *n;
    status_ = write_expdat(line, number);
    sys_.remove_file(qor::site_path("/data/") + frame_name(obsnum));
}

Step Driver::exposure(const BatchLine& line) {
    int obsnum = 0, seconds = 0;
    if (Step s = producexpdat(line, obsnum, seconds)) return s;
    sys_.print("wantfile: " + frame_name(obsnum) + "\n");
    sys_.remove_file(qor::site_path("/data/") + frame_name(obsnum));

    // The camera may still be finishing the last frame when this one is due.
    for (int tries = 1;; ++tries) {
        int status = sys_.run({qor::tool_path("fff")}, fff_limit);
        if (status == 0) break;
        if (tries == fff_tries) return Stop{"ERROR: fff cannot start the exposure\n"};
        warn("fff failed (" + std::to_string(status) + "), trying again\n");
        sys_.sleep(1);
        renumber(line, obsnum);
    }
    std::string name = frame_name(obsnum);
    std::string frame = qor::site_path("/data/") + name;
    write_record(line, obsnum, status_);
    note("expose", name + " " + line.exposure);
    sys_.sleep(seconds + 5);
    // The wait has no end (the camera writes the frame, or the operator
    // stops the run), but it is never silent.
    for (int waited = 0; !sys_.exists(frame); ++waited) {
        if (waited > 0 && waited % 60 == 0) {
            sys_.print("still waiting for " + name + " (" + std::to_string(seconds + 5 + waited) +
                       " s)\n");
            if (waited == 60) note("wait", name);
        }
        sys_.sleep(1);
    }
    sys_.print("-------produced file " + name + "\n");
    note("frame", name);
    write2log("frame " + name + ": line " + std::to_string(line_number_) + ", frame " +
              std::to_string(frame_of_line_ + 1) + " of " + std::to_string(frames_of_line_));
    sys_.run({qor::tool_path("newimage0")}, newimage0_limit);
    return std::nullopt;
}

} // namespace qobs
