// One frame: the pointing error, exp.dat, and the exposure itself.
#include "driver.h"

#include "files.h"
#include "site.h"

#include <cstdlib>

namespace qobs {

namespace {

std::string part(std::string_view text, std::size_t pos, std::size_t n) {
    return pos < text.size() ? std::string(text.substr(pos, n)) : std::string();
}

std::optional<int> observation_number(std::string_view text) {
    std::string t(text.substr(0, 32));
    char* end = nullptr;
    long n = std::strtol(t.c_str(), &end, 10);
    if (end == t.c_str() || n < 0 || n > 999999999) return std::nullopt;
    return static_cast<int>(n);
}

} // namespace

// A status line without a readable position gives the largest error, so
// the move is posted rather than a frame taken at an unknown place.
int Driver::jrd() {
    auto position = status_position(getvar2("qor", "v1"));
    return position ? pointing_error(*position, a_ra, a_dec) : 900;
}

Step Driver::producexpdat(std::string_view line, int& obsnum, int& seconds) {
    std::string number = getvar2("variables", "obsnum");
    // The frame is named by this number; without one there is nothing to wait for.
    for (int tries = 1; !observation_number(number) && tries < 3; ++tries) {
        sys_.sleep(1);
        number = getvar2("variables", "obsnum");
    }
    auto n = observation_number(number);
    if (!n) return Stop{"ERROR: no observation number from varshow variables obsnum\n"};
    obsnum = *n;

    std::string status = getvar2("qor", "v1");
    std::string text = number + part(status, 50, 10) + "\n" + std::string(line.substr(0, 4)) +
                       "\n" + part(status, 20, 10) + "\n" + part(status, 30, 10) + "\n" +
                       object_text(line) + std::to_string(nsc) + " " + std::to_string(nsr);
    if (!sys_.replace_file(qor::tool_path("exp.dat"), text)) {
        sys_.print("cannot write " + qor::tool_path("exp.dat") + "\n");
    }
    seconds = exposure_seconds(line);
    return std::nullopt;
}

Step Driver::exposure(std::string_view line) {
    int obsnum = 0, seconds = 0;
    if (Step s = producexpdat(line, obsnum, seconds)) return s;
    std::string name = "d" + std::to_string(obsnum) + ".ccd";
    sys_.print("wantfile: " + name + "\n");
    std::string frame = qor::site_path("/data/") + name;
    sys_.remove_file(frame);

    // The camera may still be finishing the last frame when this one is due.
    for (int tries = 1;; ++tries) {
        int status = sys_.run({qor::tool_path("fff")}, fff_limit);
        if (status == 0) break;
        if (tries == fff_tries) return Stop{"ERROR: fff cannot start the exposure\n"};
        sys_.print("fff failed (" + std::to_string(status) + "), trying again\n");
        sys_.sleep(1);
    }
    sys_.sleep(seconds + 5);
    while (!qor::file_exists(frame)) sys_.sleep(1);
    sys_.print("-------produced file " + name + "\n");
    sys_.run({qor::tool_path("newimage0")}, newimage0_limit);
    return std::nullopt;
}

} // namespace qobs
