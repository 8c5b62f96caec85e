#include "phase.h"

#include "text.h"

#include <cstdio>

namespace qor {

namespace {

std::string eight(int value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%8d", value);
    return buf;
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

Phase phase_of(std::string_view text) {
    if (text.size() > 62) return Phase::idle;
    if (text.size() > 40) return Phase::reading_out;
    return Phase::exposing;
}

std::string exposing_text(std::string_view exp3_out, int remaining) {
    std::string text(exp3_out.substr(0, 21));
    text.resize(21, ' ');
    return text + eight(remaining);
}

std::string reading_out_text(std::string_view exp3_out, std::optional<int> seconds) {
    std::string text(exp3_out.substr(0, 43));
    text.resize(43, ' ');
    return text + (seconds ? eight(*seconds) : std::string(" "));
}

std::optional<PhaseReading> read_phase(std::string_view text) {
    // Every form starts with the 21-character stamp of the exposure's begin,
    // hh:mm:ss at 11-18.
    if (text.size() < 21) return std::nullopt;
    for (int i : {11, 12, 14, 15, 17, 18})
        if (!digit(text[i])) return std::nullopt;
    if (text[13] != ':' || text[16] != ':') return std::nullopt;
    PhaseReading r;
    r.began = text.substr(11, 8);
    r.phase = phase_of(text);
    if (r.phase == Phase::exposing) {
        r.remaining_s = whole_int(text.substr(21));
        if (!r.remaining_s) return std::nullopt;
    } else if (r.phase == Phase::reading_out && text.size() >= 51) {
        r.readout_s = whole_int(text.substr(43));
    }
    return r;
}

bool camera_free(std::string_view text) {
    return text.size() > 45 && text[45] != ' ';
}

} // namespace qor
