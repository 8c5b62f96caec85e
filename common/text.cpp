#include "text.h"

#include <climits>

namespace qor {

std::optional<int> read_int(std::string_view text, std::string_view* rest) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > INT_MAX) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (rest) *rest = text.substr(i);
    if (negative) v = -v;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

std::optional<int> whole_int(std::string_view text) {
    std::string_view rest;
    auto v = read_int(text, &rest);
    // read_int saturates: a number at either end of the range may have been
    // beyond it.
    if (!v || *v == INT_MAX || *v == INT_MIN) return std::nullopt;
    for (char c : rest)
        if (c != ' ' && (c < '\t' || c > '\r')) return std::nullopt;
    return v;
}

std::vector<std::string> lines_of(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::vector<std::string> words_of(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size()) {
        while (i < text.size() && space(text[i])) ++i;
        std::size_t start = i;
        while (i < text.size() && !space(text[i])) ++i;
        if (i > start) words.emplace_back(text.substr(start, i - start));
    }
    return words;
}

namespace {

// Length of the well-formed UTF-8 sequence of a printable character at the
// start of s (1 for plain ASCII), or 0.
std::size_t printable_sequence(std::string_view s) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = byte(0);
    if (c >= 0x20 && c < 0x7f) return 1;
    std::size_t n = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    if (n == 0 || s.size() < n) return 0;
    unsigned long cp = c & (0x7f >> n);
    for (std::size_t i = 1; i < n; ++i) {
        if ((byte(i) & 0xc0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i) & 0x3f);
    }
    static constexpr unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
    bool valid = cp >= least[n] && cp <= 0x10ffff && !(cp >= 0xd800 && cp <= 0xdfff);
    return valid && cp >= 0xa0 ? n : 0; // U+0080..U+009F are controls too
}

} // namespace

std::string printable(std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        std::size_t n = text[0] == '\n' || text[0] == '\t' ? 1 : printable_sequence(text);
        if (n > 0) {
            out.append(text.substr(0, n));
            text.remove_prefix(n);
            continue;
        }
        auto c = static_cast<unsigned char>(text[0]);
        out += "\\x";
        out += hex[c >> 4];
        out += hex[c & 15];
        text.remove_prefix(1);
    }
    return out;
}

} // namespace qor
