#include "status.h"

#include "text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qor::scope {

std::string status_line(const StatusFields& f) {
    std::string line;
    line += hms_text(f.clock_s / 3600.0);
    line += hms_text(f.lst_h);
    line += hms_text(f.ra_h);
    line += dms_text(f.dec_deg);
    line += short_hms_text(f.ha_h);
    char state[16];
    std::snprintf(state, sizeof state, "%c%c%02d%s%04d", f.slewing ? 'S' : 'T',
                  f.dome_rotating ? 'R' : 'S', f.slewing ? f.slew_count % 100 : 0,
                  f.filter_moving ? "MV" : "OK", std::clamp(f.filter, 0, 9999));
    line += state;
    char temp[16];
    std::snprintf(temp, sizeof temp, "%+06.1fC", std::clamp(f.temperature_c, -99.9, 99.9));
    line += temp;
    return line;
}

std::string status_record(const StatusFields& f, bool quoted) {
    std::string line = status_line(f);
    if (quoted) {
        std::replace(line.begin(), line.end(), ':', '\'');
        std::replace(line.begin(), line.end(), '.', '"');
    }
    return "`" + line + "\n";
}

} // namespace qor::scope
