#include "batch_line.h"

#include "text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace qor {

namespace {

bool space(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
bool digit(char c) {
    return c >= '0' && c <= '9';
}
bool all_digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), digit);
}
// Digits with at most one decimal point, at least one digit.
bool plain_decimal(std::string_view s) {
    return std::count(s.begin(), s.end(), '.') <= 1 && std::any_of(s.begin(), s.end(), digit) &&
           std::all_of(s.begin(), s.end(), [](char c) { return digit(c) || c == '.'; });
}

double number(std::string_view s) {
    return std::strtod(std::string(s).c_str(), nullptr);
}

// Index of the fourth blank among the first 20 characters, else 20: where
// the coordinates are read from.
std::size_t coordinates_start(std::string_view line) {
    int blanks = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(20, line.size()); ++i) {
        if (line[i] == ' ' && ++blanks == 4) return i;
    }
    return 20;
}

// The right ascension / declination words as the driver reads them.
struct Coordinates {
    std::string ra, dec, equinox;
};
Coordinates coordinates(std::string_view line) {
    auto w = words_of(line.substr(std::min(line.size(), coordinates_start(line))));
    w.resize(std::max<std::size_t>(w.size(), 3));
    return {w[0], w[1], w[2]};
}

// h[:m[:s.s]] (or d for the declination, with a sign), each part read as
// the driver reads it: integer, integer, decimal. Nothing when a part is
// not a number or out of range.
struct Sexagesimal {
    bool negative = false;
    int whole = 0, minutes = 0;
    float seconds = 0;
};
std::optional<Sexagesimal> read_sexagesimal(std::string_view word, bool declination, int limit) {
    Sexagesimal v;
    if (declination && !word.empty() && (word[0] == '-' || word[0] == '+')) {
        v.negative = word[0] == '-';
        word.remove_prefix(1);
    }
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        std::size_t colon = word.find(':', start);
        parts.push_back(word.substr(start, colon - start));
        if (colon == std::string_view::npos) break;
        start = colon + 1;
    }
    if (parts.size() > 3) return std::nullopt;
    if (!all_digits(parts[0]) || parts[0].size() > 3) return std::nullopt;
    v.whole = std::atoi(std::string(parts[0]).c_str());
    if (parts.size() > 1) {
        if (!all_digits(parts[1]) || parts[1].size() > 2) return std::nullopt;
        v.minutes = std::atoi(std::string(parts[1]).c_str());
    }
    if (parts.size() > 2) {
        if (!plain_decimal(parts[2]) || parts[2].size() > 12) return std::nullopt;
        v.seconds = std::strtof(std::string(parts[2]).c_str(), nullptr);
    }
    if (v.minutes > 59 || !(v.seconds < 60)) return std::nullopt;
    double total = v.whole + v.minutes / 60.0 + v.seconds / 3600.0;
    if (total > limit) return std::nullopt;
    return v;
}

// A control character inside a line (the line end aside): the field it is
// in, and the fault. A NUL, an escape sequence or a carriage return must
// never reach the camera's files, the run log or the observer's terminal.
std::optional<LineFault> control_character(std::string_view line) {
    std::size_t n = line.size() - (!line.empty() && line.back() == '\n' ? 1 : 0);
    for (std::size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(line[i]);
        if ((c >= 0x20 && c != 0x7f) || c == '\t') continue;
        int field = static_cast<int>(words_of(line.substr(0, i)).size());
        if (i == 0 || space(line[i - 1])) ++field;
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        return LineFault{std::clamp(field, 1, 14), std::string("holds the control character ") + hex};
    }
    return std::nullopt;
}

} // namespace

std::string quoted(std::string_view s) {
    return "'" + printable(s) + "'";
}

const char* field_name(int field) {
    static const char* names[] = {"line",          "line code",        "filter",
                                  "exposure time", "number of frames", "right ascension",
                                  "declination",   "equinox",          "camera set-up",
                                  "camera set-up", "camera set-up",    "camera set-up",
                                  "flag",          "read-out speed",   "object name"};
    return field >= 0 && field <= 14 ? names[field] : "line";
}

std::string fault_text(int line_number, const LineFault& fault) {
    std::string where = "line " + std::to_string(line_number);
    if (fault.field > 0) {
        where += ", field " + std::to_string(fault.field) + " (" + field_name(fault.field) + ")";
    }
    return where + ": " + fault.problem + "\n";
}

bool is_pending(std::string_view line) {
    return line.size() > 2 && line[2] != ' ' && line[2] != '\n';
}

std::string trim_trailing_blanks(std::string line) {
    if (line.empty() || line.back() != '\n') return line;
    // A file written on another system ends its lines with CR LF.
    while (line.size() >= 2 && (line[line.size() - 2] == ' ' || line[line.size() - 2] == '\r')) {
        line.erase(line.size() - 2, 1);
    }
    return line;
}

std::optional<LineFault> check_fields(std::string_view line) {
    if (auto f = control_character(line)) return f;
    // The driver's slot of a line holds 119 characters, its line end included.
    if (line.size() > max_line) {
        return LineFault{0, "it has " + std::to_string(line.size()) + " characters; at most " +
                                std::to_string(max_line) + ", its line end included"};
    }
    auto w = words_of(line);
    if (w.size() < 14) return LineFault{static_cast<int>(w.size()) + 1, "missing"};
    for (int f = 1; f <= 14; ++f) {
        std::size_t limit = f == 14 ? max_object : f <= 11 ? max_field : 1000;
        if (w[f - 1].size() > limit) {
            return LineFault{f, quoted(w[f - 1]) + " has " + std::to_string(w[f - 1].size()) +
                                    " characters; at most " + std::to_string(limit)};
        }
    }
    if (w[0].size() != 4 || line.substr(0, 4) != w[0]) {
        return LineFault{1, quoted(w[0]) + " is not the line's first 4 characters"};
    }
    auto c = coordinates(line);
    if (c.ra != w[4] || c.dec != w[5] || c.equinox != w[6]) {
        return LineFault{5, "not where it is read from: fields 1 to 4 must be separated by single "
                            "blanks within the first 20 characters"};
    }
    const std::string& filter = w[1];
    bool letter = filter.size() == 1 && std::isalnum(static_cast<unsigned char>(filter[0]));
    if (!letter && !(all_digits(filter) && filter.size() <= 4)) {
        return LineFault{2, quoted(filter) + " is neither a filter letter nor a filter number"};
    }
    if (!plain_decimal(w[2]) || w[2].size() > 12 || number(w[2]) > 86400) {
        return LineFault{3, quoted(w[2]) + " is not a number of seconds from 0 to 86400"};
    }
    if (!all_digits(w[3]) || w[3].size() > 4) {
        return LineFault{4, quoted(w[3]) + " is not a whole number from 0 to 9999"};
    }
    if (!read_sexagesimal(w[4], false, 24)) {
        return LineFault{5, quoted(w[4]) + " is not hh:mm:ss.s from 0 to 24 hours"};
    }
    if (!read_sexagesimal(w[5], true, 90)) {
        return LineFault{6, quoted(w[5]) + " is not [-]dd:mm:ss from -90 to 90 degrees"};
    }
    if (!plain_decimal(w[6]) || w[6].size() > 12 || number(w[6]) < 1800 || number(w[6]) > 2200) {
        return LineFault{7, quoted(w[6]) + " is not a year from 1800 to 2200"};
    }
    if (w.size() > 14) {
        return LineFault{14, "the line has " + std::to_string(w.size()) +
                                 " fields; the object name must be one word, the last"};
    }
    return std::nullopt;
}

ParsedLine parse_batch_line(std::string_view text) {
    std::string line = trim_trailing_blanks(std::string(text));
    if (auto fault = check_fields(line)) return {std::nullopt, fault};
    auto w = words_of(line);
    BatchLine b;
    b.text = line;
    b.code = w[0];
    b.filter = w[1];
    b.exposure = w[2];
    b.seconds = number(w[2]);
    b.frames = std::atoi(w[3].c_str());
    auto c = coordinates(line);
    b.ra = c.ra;
    b.dec = c.dec;
    b.equinox = c.equinox;
    auto ra = *read_sexagesimal(c.ra, false, 24), dec = *read_sexagesimal(c.dec, true, 90);
    b.ra_hours = ra.whole + ra.minutes / 60.0 + ra.seconds / 3600.0;
    b.dec_degrees = dec.whole + dec.minutes / 60.0 + dec.seconds / 3600.0;
    if (dec.negative) b.dec_degrees = -b.dec_degrees;
    b.equinox_year = number(c.equinox);
    b.setup = {w[7], w[8], w[9], w[10]};
    b.flag = w[11];
    b.speed = w[12];
    b.object = w[13];
    return {b, std::nullopt};
}

} // namespace qor
