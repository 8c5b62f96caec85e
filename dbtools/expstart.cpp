// expstart: waits until the telescope status shows the camera idle, then
// sets the exposure time from exptime.dat and starts an exposure.
#include "files.h"
#include "run.h"
#include "site.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

// The last line of telescope.txt, as "tail -1" prints it, at most 79 characters.
std::string last_line(const std::string& path) {
    auto text = qor::read_file(path);
    if (!text || text->empty()) return {};
    std::string t = *text;
    if (t.back() == '\n') t.pop_back();
    auto nl = t.rfind('\n');
    std::string line = nl == std::string::npos ? t : t.substr(nl + 1);
    return line.substr(0, 79);
}

// Index 45 of the exposure-phase line lies in the readout-end stamp when the
// camera is idle, and is a blank while the readout seconds are shown. A
// shorter line is an exposure in progress (29 or 44 characters) or a file
// caught while it is rewritten: keep waiting then too.
bool camera_ready(const std::string& line) {
    return line.size() > 45 && line[45] != ' ';
}

} // namespace

int main() {
    const std::string status = qor::site_path("/u/tarnu/status/telescope.txt");
    while (!camera_ready(last_line(status))) {
        std::this_thread::sleep_for(std::chrono::seconds(4));
    }

    auto first = qor::read_first_line(qor::tool_path("exptime.dat"), 59);
    if (!first) {
        std::fputs("\n\texptime.dat not found!\n", stdout);
        return 0;
    }
    qor::Argv set = qor::command_words("dbset setups.exposure.current.value " + *first);
    if (set.size() < 3) {
        std::fputs("\n\texptime.dat holds no exposure time!\n", stdout);
        return 0;
    }
    std::fflush(stdout);
    qor::run(set);
    qor::run({"dbset", "setups.record.current.value", "Yes"});
    qor::run({"dbset", "setups.flags.windowset.value", "1"});
    // Setting the start flag starts the exposure in the camera control system.
    qor::run({"dbset", "setups.flags.start.value", "1"});
    return 0;
}
