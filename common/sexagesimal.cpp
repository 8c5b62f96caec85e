#include "sexagesimal.h"

#include <cmath>
#include <string>

namespace qor {

namespace {

bool digits(std::string_view s, std::size_t min, std::size_t max) {
    if (s.size() < min || s.size() > max) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

} // namespace

SexagesimalParts sexagesimal_parts(float value, Rounding rounding) {
    SexagesimalParts p;
    p.negative = value < 0;
    float v = std::fabs(value);
    p.whole = static_cast<int>(v);
    float m = (v - static_cast<float>(p.whole)) * 60.0f;
    p.minutes = static_cast<int>(m);
    float s = (m - static_cast<float>(p.minutes)) * 60.0f;
    p.seconds = static_cast<int>(s);
    float fraction = s - static_cast<float>(p.seconds);
    int tenths = 0;
    switch (rounding) {
    case Rounding::tenths:
        tenths = static_cast<int>(fraction * 10.0f + 0.5f);
        break;
    case Rounding::seconds_by_tenths:
        tenths = static_cast<int>(fraction * 10.0f + 0.5f) + 5;
        break;
    case Rounding::seconds_over_half:
        if (fraction > 0.5f) ++p.seconds;
        break;
    }
    if (tenths > 9) {
        ++p.seconds;
        tenths = 0;
    }
    if (p.seconds == 60) {
        ++p.minutes;
        p.seconds = 0;
    }
    if (p.minutes == 60) {
        ++p.whole;
        p.minutes = 0;
    }
    p.tenths = rounding == Rounding::tenths ? tenths : 0;
    return p;
}

std::optional<double> sexagesimal(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    bool negative = !s.empty() && s.front() == '-';
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) s.remove_prefix(1);
    double value = 0, unit = 1;
    for (int part = 0; part < 3; ++part) {
        std::size_t colon = s.find(':');
        std::string_view p = part < 2 ? s.substr(0, colon) : s;
        bool last = part == 2 || colon == std::string_view::npos;
        std::size_t dot = p.find('.');
        // Only the last part may carry a fraction (or the status line's one
        // trailing character after the seconds).
        if (!digits(p.substr(0, dot), 1, 3) || (dot != std::string_view::npos && !last) ||
            (dot != std::string_view::npos && !digits(p.substr(dot + 1), 0, 6)))
            return std::nullopt;
        double x = std::stod(std::string(p));
        if (part > 0 && x >= 60) return std::nullopt;
        value += x / unit;
        unit *= 60;
        if (last) break;
        s.remove_prefix(colon + 1);
    }
    return negative ? -value : value;
}

} // namespace qor
