// The nights' batch files and fault schedules.
#include "chaos.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace qor::chaos {

namespace {

const char* fault_name(Fault f) {
    switch (f) {
    case Fault::kill_driver:
        return "kill qorobs";
    case Fault::unplug:
        return "unplug the line";
    case Fault::hang_exp3:
        return "hang exp3";
    case Fault::hang_dbshow:
        return "hang dbshow";
    case Fault::hang_obsnum:
        return "hang dbshow on obsnum";
    case Fault::junk_ss:
        return "ss := 23";
    case Fault::junk_pp:
        return "pp := 23";
    case Fault::clock_back:
        return "host clock 20 s back";
    case Fault::clock_forward:
        return "host clock 20 s forward";
    case Fault::disk_full:
        return "batch file's disk full";
    }
    return "?";
}

const char* trigger_name(Trigger t) {
    switch (t) {
    case Trigger::now:
        return "at once";
    case Trigger::filter_posted:
        return "filter posted";
    case Trigger::move_posted:
        return "move posted";
    case Trigger::move_replied:
        return "move reply read";
    case Trigger::exposing:
        return "exposure begun";
    case Trigger::frame_claimed:
        return "frame claimed";
    case Trigger::last_frame_wanted:
        return "last frame of a line wanted";
    case Trigger::line_done:
        return "last frame of a line claimed";
    }
    return "?";
}

} // namespace

std::string describe(const Step& s) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s +%.1f s: %s", trigger_name(s.when), s.delay,
                  fault_name(s.fault));
    std::string out = buf;
    if (s.lasts > 0) {
        std::snprintf(buf, sizeof buf, " for %.0f s", s.lasts);
        out += buf;
    }
    return out;
}

// Exposures of 1 s and frames of 64 x 64 keep a frame near ten seconds,
// most of it the driver's own pause after the exposure.
std::vector<std::string> short_batch() {
    return {
        "A001 V 1 2 05:35:17.3 -05:23:28 2000 0 0 64 64 1 f M42\n",
        "A002 R 1 3 05:34:31.9 22:00:52 2000 0 0 64 64 1 f M1\n",
        "A003 B 1 2 00:42:44.3 41:16:09 2000 0 0 64 64 1 f M31\n",
        // Room for the last faults, whatever the kills before cost.
        "A004 I 1 2 03:47:24.0 24:07:00 2000 0 0 64 64 1 f M45\n",
    };
}

std::vector<std::string> long_batch() {
    auto b = short_batch();
    b.push_back("C005 V 1 2 16:41:41.6 36:27:41 2000 0 0 64 64 0 s M13\n");
    b.push_back("A006 U 1 3 13:29:52.7 47:11:43 2000 0 0 64 64 1 m M51\n");
    return b;
}

// In the order they come on the short night (four lines of 2, 3, 2 and 2
// frames): line 1 meets the junk ss, the pulled line and a kill at its
// rewrite; line 2 a kill while its filter turns, the junk pp, a kill during
// an exposure, the hung exp3, the clock step and the full disk at its
// rewrite; line 3 the camera database hung on the frame number, then whole;
// line 4 is there so that these come, however the kills shift the night.
Schedule short_schedule() {
    return {
        {Trigger::exposing, 0.3, Fault::junk_ss},
        {Trigger::move_posted, 0.5, Fault::unplug, 6},
        {Trigger::line_done, 0, Fault::kill_driver},
        {Trigger::filter_posted, 0.5, Fault::kill_driver},
        {Trigger::exposing, 0.3, Fault::junk_pp},
        {Trigger::exposing, 0.5, Fault::kill_driver},
        {Trigger::exposing, 0.2, Fault::hang_exp3, 8},
        {Trigger::exposing, 0.2, Fault::clock_back},
        {Trigger::now, 10, Fault::clock_forward},
        {Trigger::last_frame_wanted, 0, Fault::disk_full, 15},
        {Trigger::move_posted, 0, Fault::hang_obsnum, 25},
        {Trigger::exposing, 0, Fault::hang_dbshow, 25},
    };
}

// Every fault once and two more kills, shuffled; each at one of the
// moments where it can do harm, after a random delay.
Schedule random_schedule(unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&](std::initializer_list<Trigger> ts) {
        std::vector<Trigger> v(ts);
        return v[std::uniform_int_distribution<std::size_t>(0, v.size() - 1)(rng)];
    };
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<>(a, b)(rng); };
    std::vector<Fault> faults{Fault::kill_driver, Fault::kill_driver, Fault::kill_driver,
                              Fault::unplug,      Fault::hang_exp3,   Fault::hang_dbshow,
                              Fault::hang_obsnum, Fault::junk_ss,     Fault::junk_pp,
                              Fault::clock_back,  Fault::disk_full};
    std::shuffle(faults.begin(), faults.end(), rng);
    Schedule s;
    for (Fault f : faults) {
        switch (f) {
        case Fault::kill_driver: {
            Trigger t = pick({Trigger::filter_posted, Trigger::move_posted, Trigger::exposing,
                              Trigger::line_done, Trigger::frame_claimed});
            s.push_back({t, t == Trigger::line_done ? uniform(0, 0.3) : uniform(0, 2), f});
            break;
        }
        case Fault::unplug:
            s.push_back({pick({Trigger::move_posted, Trigger::filter_posted, Trigger::exposing}),
                         uniform(0, 1.5), f, uniform(3, 12)});
            break;
        case Fault::hang_exp3:
            s.push_back({pick({Trigger::exposing, Trigger::move_posted}), uniform(0, 1), f,
                         uniform(4, 12)});
            break;
        case Fault::hang_dbshow:
            s.push_back({pick({Trigger::move_replied, Trigger::exposing, Trigger::move_posted}),
                         uniform(0, 1), f, 25});
            break;
        case Fault::hang_obsnum:
            s.push_back({pick({Trigger::move_posted, Trigger::frame_claimed}), 0, f, 25});
            break;
        case Fault::junk_ss:
        case Fault::junk_pp:
            s.push_back({pick({Trigger::exposing, Trigger::frame_claimed}), uniform(0.2, 1), f});
            break;
        case Fault::clock_back:
            s.push_back({pick({Trigger::exposing, Trigger::move_posted}), uniform(0, 1), f});
            s.push_back({Trigger::now, uniform(5, 20), Fault::clock_forward});
            break;
        case Fault::disk_full:
            s.push_back({Trigger::last_frame_wanted, uniform(0, 2), f, uniform(8, 30)});
            break;
        case Fault::clock_forward:
            break;
        }
    }
    return s;
}

} // namespace qor::chaos
