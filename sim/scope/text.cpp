#include "text.h"

#include <cmath>
#include <cstdio>

namespace qor::scope {

namespace {

// Tenths of a second (or arc second) of a magnitude, rounded once so that
// 59.96 carries into the next minute instead of printing 60.0.
long long tenths_of(double v) {
    return std::llround(std::fabs(v) * 36000.0);
}

std::string fields(long long tenths, const char* form) {
    long long t = tenths % 10;
    long long s = tenths / 10 % 60;
    long long m = tenths / 600 % 60;
    long long u = tenths / 36000;
    char buf[40];
    std::snprintf(buf, sizeof buf, form, u, m, s, t);
    return buf;
}

} // namespace

std::string hms_text(double hours) {
    if (!std::isfinite(hours)) hours = 0;
    double h = std::fmod(hours, 24.0);
    if (h < 0) h += 24.0;
    return fields(tenths_of(h) % 864000, "%02lld:%02lld:%02lld.%lld");
}

std::string dms_text(double degrees) {
    if (!std::isfinite(degrees)) degrees = 0;
    long long t = tenths_of(degrees);
    if (t > 90LL * 36000) t = 90LL * 36000;
    return (degrees < 0 && t > 0 ? "-" : "+") + fields(t, "%02lld:%02lld:%02lld.%lld");
}

std::string short_hms_text(double hours) {
    if (!std::isfinite(hours)) hours = 0;
    long long t = tenths_of(hours);
    if (t >= 10LL * 36000) t = 10LL * 36000 - 1;
    return fields(t, "%lld:%02lld:%02lld.%lld");
}

std::string escape_bytes(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

namespace {
int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
} // namespace

std::optional<std::string> unescape_bytes(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= text.size()) return std::nullopt;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 's':
            out += ' ';
            break;
        case 'x': {
            if (i + 2 >= text.size()) return std::nullopt;
            int hi = hex_digit(text[i + 1]);
            int lo = hex_digit(text[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return out;
}

} // namespace qor::scope
