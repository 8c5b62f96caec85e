#include "line.h"

#include "precession.h"
#include "text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qobs {

std::optional<LineFault> check_filter(const BatchLine& line, const FilterTable& table) {
    if (getfiltframe(line, table, std::nullopt)) return std::nullopt;
    return LineFault{2, qor::quoted(line.filter) + " is not in the filter table"};
}

Setup setpar(const BatchLine& line) {
    Setup s;
    char head[32];
    double hundredths = line.seconds * 100 + 0.5;
    std::snprintf(head, sizeof head, "%d\n",
                  hundredths >= 0 && hundredths < 1e9 ? static_cast<int>(hundredths) : 0);
    const char* speed = line.speed[0] == 'f' ? "Fast" : line.speed[0] == 'm' ? "Medium" : "Slow";
    const auto& w = line.setup;
    s.fff_dat = head + w[0] + "\n" + w[1] + "\n" + w[2] + "\n" + w[3] + "\n" +
                (line.flag[0] == '1' ? "0" : "2") + "\n" + speed + "\n" + line.object + "\n";
    if (auto n = qor::read_int(w[2])) s.nsc = *n;
    if (auto n = qor::read_int(w[3])) s.nsr = *n;
    return s;
}

std::optional<FilterFrames> getfiltframe(const BatchLine& line, const FilterTable& table,
                                         std::optional<int> beam) {
    FilterFrames r;
    r.frames = line.frames;
    const std::string& field = line.filter;
    int wanted = field.size() > 1 ? qor::read_int(field).value_or(0) : 0;
    bool found = false;
    for (const auto& e : table.entries) {
        if (wanted != 0 ? e.number == wanted : !field.empty() && e.letter == field[0]) {
            wanted = e.number;
            found = true;
            break;
        }
    }
    if (!found) return std::nullopt;
    r.wanted = wanted;
    r.command = "filt_" + field;
    if ((beam && *beam == wanted) || field[0] == 'x') r.command[0] = ' ';
    return r;
}

Pointing getradec(const BatchLine& line, int q, float a_ep) {
    double equinox = line.equinox_year;
    double ra = line.ra_hours;
    double dec = line.dec_degrees;

    int k = q % 18;
    double step = dmov / 2048.0 * 58.0 / 60.0;
    // Near either pole the right ascension step is that of 89.9 degrees.
    double d = std::min(std::fabs(dec), 89.9);
    double ra_step = (step / 15.0) / std::cos(d * M_PI / 180.0);
    bool dithered = !line.kind_c();
    if (dithered) ra += dx[k] * ra_step;
    if (ra > 24) ra -= 24;
    if (ra < 0) ra += 24;
    // An offset past a pole would turn the position round; stop at the pole.
    if (dithered) dec = std::clamp(dec + dy[k] * step, -90.0, 90.0);

    float ra2000 = static_cast<float>(ra), dec2000 = static_cast<float>(dec);
    float e = static_cast<float>(equinox);
    if (e != 2000.0f) {
        astprs(ra2000, dec2000, e, ra2000, dec2000, 2000.0f);
        e = 2000.0f;
    }
    Pointing p;
    p.ra2000 = ra2000;
    p.dec2000 = dec2000;
    p.ra_text = toms1(ra2000, 1);
    p.dec_text = toms1(dec2000, 0);
    astprs(ra2000, dec2000, e, p.a_ra, p.a_dec, a_ep);
    p.command = "move_" + p.ra_text + "_" + p.dec_text;
    return p;
}

int exposure_seconds(const BatchLine& line) {
    double t = line.seconds;
    return t > 0 && t < 1e6 ? static_cast<int>(t) : 0;
}

std::string object_text(std::string_view line) {
    std::size_t blank = line.rfind(' ');
    return std::string(blank == std::string_view::npos ? line : line.substr(blank + 1));
}

int pointing_error(const qor::TelescopePosition& telescope, float a_ra, float a_dec) {
    double f = 15 * std::cos(telescope.dec * M_PI / 180);
    double ea = (telescope.ra - a_ra) * f * 3600;
    double ed = (telescope.dec - a_dec) * 3600;
    double e = ea * ea + ed * ed;
    if (!(e <= 900)) e = 900;
    return static_cast<int>(e);
}

} // namespace qobs
