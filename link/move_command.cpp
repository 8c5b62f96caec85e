#include "move_command.h"

#include "sexagesimal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qlink {

namespace {

// Up to three numbers of a sexagesimal word whose ':' have become blanks.
// The first must be there; the others count 0 when missing.
bool three_numbers(std::string word, std::size_t colon_span, float v[3]) {
    for (std::size_t i = 0; i < word.size() && i < colon_span; ++i)
        if (word[i] == ':') word[i] = ' ';
    v[0] = v[1] = v[2] = 0;
    int got = std::sscanf(word.c_str(), "%f %f %f", &v[0], &v[1], &v[2]);
    if (got < 1) return false;
    for (int i = 0; i < 3; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

} // namespace

int itohd(std::string_view text, float& ra, float& dec, float& epoch) {
    // First word: up to the first blank, looking at no more than 20 characters.
    std::size_t len = 0;
    while (len < 20 && len < text.size() && text[len] != ' ') ++len;
    if (len > 13) return 0;
    float r[3];
    if (!three_numbers(std::string(text.substr(0, len)), 10, r)) return 0;
    float ra_h = r[0] + r[1] / 60 + r[2] / 3600;

    // The declination starts within five characters after that blank.
    std::size_t start = len + 1;
    std::size_t k = 0;
    while (k < 5 && start + k < text.size() && text[start + k] == ' ') ++k;
    if (start + k >= text.size() || k == 5) return 0;
    std::string rest(text.substr(start + k));

    float ep = 2000;
    std::size_t blank = rest.find(' ');
    if (blank != std::string::npos && blank < 20) {
        float e = 0;
        if (std::sscanf(rest.c_str() + blank + 1, "%f", &e) == 1) ep = e;
        rest.resize(blank);
    }
    if (!(ep >= 1950 && ep <= 2050)) ep = 2000;

    float d[3];
    if (!three_numbers(rest, 11, d)) return 0;
    float dec_d = (d[0] < 0 || rest[0] == '-') ? d[0] - d[1] / 60 - d[2] / 3600
                                               : d[0] + d[1] / 60 + d[2] / 3600;
    // The fixed form has two digits of hours and of degrees.
    if (!(std::fabs(ra_h) < 99.99f && std::fabs(dec_d) < 99.99f)) return 0;

    ra = ra_h;
    dec = dec_d;
    epoch = ep;
    return 1;
}

std::string zoms(double x, int flag) {
    // Single precision throughout, as the far end's fixed form was made.
    float a = static_cast<float>(x);
    if (!std::isfinite(a)) a = 0;
    float v = std::min(std::fabs(a), 999999.0f);
    // Without tenths on show, the seconds are rounded to whole ones.
    auto p = qor::sexagesimal_parts(v, flag == 1 ? qor::Rounding::tenths
                                                 : qor::Rounding::seconds_by_tenths);
    char buf[64];
    std::snprintf(buf, sizeof buf, " %02d:%02d:%02d.%d", p.whole, p.minutes, p.seconds, p.tenths);
    buf[0] = a < 0 ? '-' : ' ';
    std::string out(buf);
    if (flag == 0) out.resize(9);
    return out;
}

std::optional<std::string> rewrite_move(std::string_view command) {
    float ra = 0, dec = 0, epoch = 2000;
    if (command.size() < 5 || !itohd(command.substr(5), ra, dec, epoch)) return std::nullopt;
    std::string out(command.substr(0, 4));
    out += zoms(ra, 1) + " " + zoms(dec, 0);
    if (epoch != 2000) {
        char buf[32];
        std::snprintf(buf, sizeof buf, " %6.1f", static_cast<double>(epoch));
        out += buf;
    }
    out += "\n";
    return out;
}

} // namespace qlink
