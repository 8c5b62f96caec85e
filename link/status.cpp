#include "status.h"

#include "phase.h"
#include "status_line.h"
#include "text.h"

#include <cstdio>
#include <optional>

namespace qlink {

int checkv1(std::string_view record) {
    return qor::separator_faults(record);
}

namespace {

// hh:mm:ss of a camera stamp (characters 11-18), in seconds of the day.
int stamp_seconds(std::string_view stamp) {
    auto two = [&](std::size_t at) {
        return at < stamp.size() ? qor::read_int(stamp.substr(at, 2)).value_or(0) : 0;
    };
    return two(11) * 3600 + two(14) * 60 + two(17);
}

std::string_view stamp(std::string_view out, std::size_t at) {
    return at < out.size() ? out.substr(at, 21) : std::string_view{};
}

} // namespace

std::string phase_text(std::string_view exp3_out, int now, int expt, float rect, Expo& expo) {
    std::string_view out = exp3_out.substr(0, 99);
    out = out.substr(0, std::min(out.size(), out.find('\0')));

    if (out.size() > 66) {
        float t = 0;
        int v = 0;
        std::string tail(out.substr(66));
        int got = std::sscanf(tail.c_str(), "%f %d", &t, &v);
        if (got >= 1) expo.temperature = t;
        if (got >= 2) expo.queued = v;
    }

    std::string_view begin = stamp(out, 0), end = stamp(out, 22), readout = stamp(out, 44);
    if (begin > end) { // an exposure is running
        int elapsed = now - stamp_seconds(begin);
        if (elapsed < 0) elapsed += 86400;
        expo.restime = expt - elapsed;
        return qor::exposing_text(out, expo.restime);
    }
    if (end > readout) { // the frame is being read out
        std::optional<int> seconds;
        if (rect > 0 && rect < 999) seconds = static_cast<int>(rect);
        return qor::reading_out_text(out, seconds);
    }
    return std::string(out.substr(0, 65));
}

} // namespace qlink
