// exp3: one line with the begin, end and readout-end stamps of the last
// exposure, then the detector temperature and the number of queued jobs:
//   2026-12-08T19:44:56.0 2026-12-08T19:45:26.0 2026-12-08T19:45:29.1 -110.7 0
// The daemon tells the camera's phase by comparing the stamps as text.
#include "camdb.h"
#include "camera.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Always exactly 21 characters and free of blanks and line ends, so the
// stamps keep their positions in the line whatever the database holds.
std::string stamp(const char* field) {
    std::string s = qor::sim::db_get(qor::sim::exposure_key(0, field)).value_or("");
    for (char& c : s) {
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r') c = '_';
    }
    s.resize(21, '0');
    return s;
}

} // namespace

int main() {
    qor::sim::hang_if_asked("exp3");
    double temp = 0.0;
    if (auto t = qor::sim::db_get("cameradata.temperature.current.detector")) {
        temp = std::strtod(t->c_str(), nullptr);
    }
    long queued = qor::sim::db_get_long("cameradata.jobs.queued", 0);
    std::printf("%s %s %s %.1f %ld\n", stamp("exp_begin").c_str(), stamp("exp_end").c_str(),
                stamp("ro_end").c_str(), temp, queued);
    return 0;
}
