#include "command.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace qor::scope {

namespace {

std::vector<std::string> words_of(std::string_view s) {
    std::vector<std::string> w;
    std::string cur;
    for (char c : s) {
        if (c == ' ' || c == '\t') {
            if (!cur.empty()) w.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) w.push_back(cur);
    return w;
}

// A plain decimal number filling the whole text.
std::optional<double> number(const std::string& s) {
    if (s.empty() || s.size() > 30) return std::nullopt;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.') return std::nullopt;
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

// Up to three ':'-separated parts; minutes and seconds below 60.
std::optional<double> sexagesimal(std::string s) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t colon = s.find(':', start);
        parts.push_back(s.substr(start, colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (parts.size() > 3) return std::nullopt;
    double v = 0, scale = 1;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        auto p = number(parts[i]);
        if (!p || (i > 0 && *p >= 60.0)) return std::nullopt;
        v += *p / scale;
        scale *= 60;
    }
    return v;
}

bool is_move_word(std::string_view w) {
    return w.size() >= 2 && w.substr(0, 2) == "mo";
}

// The first four characters of a command word as they may appear in a reply:
// letters and digits only, so the reply cannot look like a status record,
// a time request or a restart request.
std::string reply_word(std::string_view word) {
    std::string w;
    for (std::size_t i = 0; i < word.size() && w.size() < 4; ++i) {
        unsigned char c = static_cast<unsigned char>(word[i]);
        w += std::isalnum(c) ? static_cast<char>(c) : '?';
    }
    if (w.size() < 4) w.append(4 - w.size(), '?');
    if (w.starts_with("ti") || w.starts_with("TI")) w[0] = '?';
    return w;
}

} // namespace

std::string payload_of(std::string_view record) {
    if (!record.empty() && record.front() == '`') record.remove_prefix(1);
    while (!record.empty() && (record.back() == '\n' || record.back() == '\r'))
        record.remove_suffix(1);
    return std::string(record);
}

Kind classify(std::string_view record) {
    std::string p = payload_of(record);
    bool framed = !record.empty() && record.front() == '`';
    if (framed) {
        if (p.empty()) return Kind::poll;
        if (p.size() == 1 && p[0] == '\0') return Kind::attention;
        if (p == "&") return Kind::dome_start;
        if (p == "$") return Kind::dome_stop;
        if (parse_time_answer(p)) return Kind::time_answer;
    }
    auto w = words_of(p);
    if (w.empty()) return Kind::other;
    if (is_move_word(w[0])) return Kind::move;
    if (w[0] == "filt") return Kind::filter;
    return Kind::other;
}

MoveParse parse_move(std::string_view payload) {
    auto w = words_of(payload);
    if (w.empty() || !is_move_word(w[0])) return {std::nullopt, "not a move"};
    if (w.size() < 3) return {std::nullopt, "no position"};
    if (w.size() > 4) return {std::nullopt, "bad position"};
    std::string ra_text = w[1];
    if (!ra_text.empty() && ra_text[0] == '-') return {std::nullopt, "bad ra"};
    if (!ra_text.empty() && ra_text[0] == '+') ra_text.erase(0, 1);
    auto ra = sexagesimal(ra_text);
    if (!ra || *ra > 24.0) return {std::nullopt, "bad ra"};
    std::string dec_text = w[2];
    bool south = false;
    if (!dec_text.empty() && (dec_text[0] == '-' || dec_text[0] == '+')) {
        south = dec_text[0] == '-';
        dec_text.erase(0, 1);
    }
    auto dec = sexagesimal(dec_text);
    if (!dec || *dec > 90.0) return {std::nullopt, "bad dec"};
    MoveTarget t;
    t.ra_h = *ra >= 24.0 ? 0.0 : *ra;
    t.dec_deg = south ? -*dec : *dec;
    if (w.size() == 4) {
        auto e = number(w[3]);
        if (!e) return {std::nullopt, "bad epoch"};
        if (*e >= 1950.0 && *e <= 2050.0) t.epoch = *e;
    }
    return {t, {}};
}

std::optional<int> parse_time_answer(std::string_view p) {
    if (p.size() != 6) return std::nullopt;
    for (char c : p)
        if (c < '0' || c > '9') return std::nullopt;
    int h = (p[0] - '0') * 10 + (p[1] - '0');
    int m = (p[2] - '0') * 10 + (p[3] - '0');
    int s = (p[4] - '0') * 10 + (p[5] - '0');
    if (h > 23 || m > 59 || s > 60) return std::nullopt;
    return h * 3600 + m * 60 + s;
}

int clock_difference(int answer_s, int host_s) {
    int d = (answer_s - host_s) % 86400;
    if (d < -43200) d += 86400;
    if (d >= 43200) d -= 86400;
    return d;
}

FilterTable default_filter_table() {
    return {{'U', 1}, {'B', 2}, {'V', 3}, {'R', 4}, {'I', 5}, {'H', 6}, {'C', 7}};
}

FilterTable load_filter_table(const std::string& path) {
    FilterTable t;
    std::ifstream in(path);
    std::string line;
    while (t.size() < 30 && std::getline(in, line)) {
        if (line.size() < 3 || std::isspace(static_cast<unsigned char>(line[0]))) continue;
        char* end = nullptr;
        long n = std::strtol(line.c_str() + 1, &end, 10);
        if (end == line.c_str() + 1 || n < 0 || n > 9999) continue;
        t.emplace_back(line[0], static_cast<int>(n));
    }
    return t.empty() ? default_filter_table() : t;
}

std::optional<int> filter_number(const FilterTable& table, std::string_view arg) {
    if (arg.empty()) return std::nullopt;
    if (arg.size() == 1) {
        for (const auto& [letter, n] : table)
            if (letter == arg[0]) return n;
    }
    if (arg.size() > 4) return std::nullopt;
    int n = 0;
    for (char c : arg) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n < 1) return std::nullopt;
    return n;
}

std::string done_reply(std::string_view word) {
    return reply_word(word) + " done\n";
}

std::string error_reply(std::string_view word, std::string_view why) {
    std::string r = reply_word(word) + " error";
    if (!why.empty()) {
        r += ": ";
        for (char c : why.substr(0, 30))
            r += std::isprint(static_cast<unsigned char>(c)) && c != '`' ? c : '?';
    }
    return r + "\n";
}

} // namespace qor::scope
