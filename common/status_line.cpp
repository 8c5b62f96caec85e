#include "status_line.h"

#include "text.h"

#include <algorithm>
#include <cstdio>

namespace qor {

namespace {

struct Span {
    std::size_t at, size;
};
constexpr Span clock_at{0, 10}, second_clock_at{10, 10}, ra_at{20, 10}, dec_at{30, 11},
    further_at{41, 9}, instrument_at{50, 10}, tail_at{60, 7};

std::string_view part(std::string_view line, Span s) {
    return s.at < line.size() ? line.substr(s.at, s.size) : std::string_view{};
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

std::optional<int> two_digits(std::string_view s, std::size_t at) {
    if (s.size() < at + 2 || !digit(s[at]) || !digit(s[at + 1])) return std::nullopt;
    return (s[at] - '0') * 10 + (s[at + 1] - '0');
}

// hh:mm:ss.t as the telescope computer writes its clocks and positions.
bool clock_form(std::string_view s) {
    static constexpr std::string_view form = "00:00:00.0";
    if (s.size() != form.size()) return false;
    for (std::size_t i = 0; i < form.size(); ++i) {
        if (form[i] == '0' ? !digit(s[i]) : s[i] != form[i]) return false;
    }
    return true;
}

} // namespace

StatusFields split_status_line(std::string_view line) {
    auto s = [&](Span sp) { return std::string(part(line, sp)); };
    return {s(clock_at), s(second_clock_at), s(ra_at), s(dec_at),
            s(further_at), s(instrument_at), s(tail_at)};
}

std::string status_line_text(const StatusFields& f) {
    return f.clock + f.second_clock + f.ra + f.dec + f.further + f.instrument + f.tail;
}

int separator_faults(std::string_view record) {
    static constexpr int colons[] = {3, 6, 13, 16, 23, 26, 34, 37, 43, 46};
    static constexpr int points[] = {9, 19, 29, 40, 49};
    auto at = [&](int i) { return static_cast<std::size_t>(i) < record.size() ? record[i] : '\0'; };
    int bad = 0;
    for (int i : colons) bad += at(i) != ':';
    for (int i : points) bad += at(i) != '.';
    return bad;
}

std::optional<int> clock_seconds(std::string_view line) {
    auto h = two_digits(line, 0), m = two_digits(line, 3), s = two_digits(line, 6);
    if (!h || !m || !s) return std::nullopt;
    return *h * 3600 + *m * 60 + *s;
}

std::optional<int> beam_filter(std::string_view line) {
    if (line.size() < 60) return std::nullopt;
    return read_int(line.substr(56, 4));
}

std::optional<TelescopePosition> telescope_position(std::string_view line) {
    if (line.size() < 40) return std::nullopt;
    std::string s(line.substr(0, 80));
    char sign = s[30];
    for (std::size_t i : {22, 25, 30, 33, 36, 39}) s[i] = ' ';
    int h, m, d, am, as;
    float sec;
    if (std::sscanf(s.c_str() + 20, "%d %d %f %d %d %d", &h, &m, &sec, &d, &am, &as) != 6) {
        return std::nullopt;
    }
    TelescopePosition p;
    p.ra = h + m / 60.0 + sec / 3600.0;
    p.dec = d + am / 60.0 + as / 3600.0;
    if (sign == '-') p.dec = -p.dec;
    return p;
}

std::string motion_marks(std::string_view line) {
    if (line.size() < 54) return {};
    return {line[52], line[53], line[26], line[37]};
}

std::optional<StatusReading> read_status_line(std::string_view line) {
    if (line.size() < 41) return std::nullopt;
    StatusReading r;
    r.clock = line.substr(0, 10);
    r.ra = line.substr(20, 10);
    char sign = line[30];
    if (!clock_form(r.clock) || !clock_form(r.ra) || !clock_form(line.substr(31, 10)))
        return std::nullopt;
    if (sign == '_' || sign == ' ') sign = '+';
    if (sign != '+' && sign != '-') return std::nullopt;
    r.dec = sign + std::string(line.substr(31, 10));
    if (line.size() >= 60) {
        std::string_view f = line.substr(56, 4);
        if (std::all_of(f.begin(), f.end(), digit)) r.filter = read_int(f);
    }
    return r;
}

std::string position_log_line(std::string_view line) {
    return std::string(part(line, clock_at)) + " " + std::string(part(line, {20, 19})) + "\n";
}

} // namespace qor
