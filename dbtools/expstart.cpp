// expstart: waits until the telescope status shows the camera idle, then
// sets the exposure time from exptime.dat and starts an exposure.
#include "guarded.h"
#include "phase.h"
#include "site.h"
#include "text.h"
#include "tools.h"

namespace qdb {

namespace {

// The last line of the file, as "tail -1" prints it.
std::string last_line(qor::System& sys, const std::string& path) {
    auto lines = qor::lines_of(sys.read_file(path).value_or(""));
    return lines.empty() ? std::string() : lines.back();
}

// The first line (line end kept), at most max_chars of it.
std::optional<std::string> first_line(qor::System& sys, const std::string& path,
                                      std::size_t max_chars) {
    auto text = sys.read_file(path, max_chars);
    if (!text) return text;
    if (std::size_t end = text->find('\n'); end != std::string::npos) text->resize(end + 1);
    return text;
}

} // namespace

int expstart(qor::System& sys, const Args&) {
    return qor::guarded(sys, "expstart", [&] {
        const std::string status = qor::site_path("/u/tarnu/status/telescope.txt");
        while (!qor::camera_free(last_line(sys, status))) sys.sleep(expstart_poll);

        auto first = first_line(sys, qor::tool_path("exptime.dat"), 59);
        if (!first) {
            sys.print("\n\texptime.dat not found!\n");
            return 0;
        }
        qor::Argv set = qor::command_words("dbset setups.exposure.current.value " + *first);
        if (set.size() < 3) {
            sys.print("\n\texptime.dat holds no exposure time!\n");
            return 0;
        }
        sys.run(set);
        sys.run({"dbset", "setups.record.current.value", "Yes"});
        sys.run({"dbset", "setups.flags.windowset.value", "1"});
        // Setting the start flag starts the exposure in the camera control system.
        sys.run({"dbset", "setups.flags.start.value", "1"});
        return 0;
    });
}

} // namespace qdb
