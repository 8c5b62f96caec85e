#include "status.h"

#include "text.h"

#include <cstdio>
#include <cstring>

namespace qlink {

int checkv1(std::string_view record) {
    static constexpr int colons[] = {3, 6, 13, 16, 23, 26, 34, 37, 43, 46};
    static constexpr int points[] = {9, 19, 29, 40, 49};
    auto at = [&](int i) { return static_cast<std::size_t>(i) < record.size() ? record[i] : '\0'; };
    int bad = 0;
    for (int i : colons) bad += at(i) != ':';
    for (int i : points) bad += at(i) != '.';
    return bad;
}

namespace {

std::string_view field(std::string_view s, std::size_t pos, std::size_t len) {
    if (pos >= s.size()) return {};
    return s.substr(pos, len);
}

int two_digits(std::string_view s, std::size_t pos) {
    return qor::read_int(field(s, pos, 2)).value_or(0);
}

std::string eight(int value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%8d", value);
    return buf;
}

} // namespace

std::string phase_text(std::string_view exp3_out, int now, int expt, float rect, Expo& expo) {
    std::string_view out = exp3_out.substr(0, 99);
    out = out.substr(0, std::min(out.size(), out.find('\0')));
    std::string text(out.substr(0, 65));

    if (out.size() > 66) {
        float t = 0;
        int v = 0;
        std::string tail(out.substr(66));
        int got = std::sscanf(tail.c_str(), "%f %d", &t, &v);
        if (got >= 1) expo.tems = t;
        if (got >= 2) expo.vv = v;
    }

    std::string_view begin = field(out, 0, 21), end = field(out, 22, 21),
                     readout = field(out, 44, 21);
    if (begin > end) { // an exposure is running
        int start =
            two_digits(begin, 11) * 3600 + two_digits(begin, 14) * 60 + two_digits(begin, 17);
        int elapsed = now - start;
        if (elapsed < 0) elapsed += 86400;
        int remaining = expt - elapsed;
        expo.restime = remaining;
        text.resize(21, ' ');
        text += eight(remaining);
    } else if (end > readout) { // the frame is being read out
        text.resize(43, ' ');
        if (rect > 0 && rect < 999)
            text += eight(static_cast<int>(rect));
        else
            text += ' ';
    }
    return text;
}

int job_state(std::size_t length) {
    if (length > 62) return 3;
    if (length > 40) return 2;
    return 1;
}

std::string telescope_text(std::string_view line, float tems, int vv, std::string_view phase) {
    std::string text;
    std::size_t n = std::min<std::size_t>(line.size(), 67);
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 10 == 0 && i > 0) text += '\n';
        text += line[i];
        if (i == 53 || i == 55) text += ' ';
    }
    text += '\n';
    float t = tems;
    // tems is passed through from exp3; keep the cast defined for any value.
    int whole = (t > -2e9f && t < 2e9f) ? static_cast<int>(t) : 0;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d.%02d\n", whole, vv);
    text += buf;
    text += phase;
    text += '\n';
    return text;
}

std::string position_line(std::string_view line) {
    std::string out(field(line, 0, 10));
    out += ' ';
    out += field(line, 20, 19);
    out += '\n';
    return out;
}

} // namespace qlink
