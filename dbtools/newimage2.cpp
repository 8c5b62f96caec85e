// newimage2 obsnum: makes the quick-look previews of a new frame.
#include "guarded.h"
#include "site.h"
#include "tools.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

namespace qdb {

namespace {

// The whole argument must be a number: it becomes part of a file name.
std::optional<int> whole_number(const std::string& text) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || n < INT_MIN || n > INT_MAX) return std::nullopt;
    return static_cast<int>(n);
}

} // namespace

int newimage2(qor::System& sys, const Args& args) {
    return qor::guarded(sys, "newimage2", [&] {
        if (args.size() < 2) {
            sys.print("\tUsage newimage2 obsnum\n");
            return 0;
        }
        auto obsnum = whole_number(args[1]);
        if (!obsnum) {
            sys.print("newimage2: not an observation number: " + args[1].substr(0, 40) + "\n");
            return 2;
        }
        sys.sleep(newimage2_delay);
        std::string name = "d" + std::to_string(*obsnum);
        int status = sys.run({qor::tool_path("ccdpeek"), qor::site_path("/data/") + name + ".ccd"});
        // The previews are the next frame's once it comes: the night report
        // keeps a small one of every frame beside its FITS copy.
        if (status == 0) {
            std::string folder = qor::site_path("/data/fits");
            sys.make_folder(folder);
            if (auto small = sys.read_file(qor::site_path("/u/tarnu/status/last1.jpg"))) {
                sys.replace_file(folder + "/" + name + ".jpg", *small);
            }
        }
        // The frame as standard FITS with its observation, and the night's index.
        sys.run({qor::tool_path("ccd2fits"), std::to_string(*obsnum)}, fits_limit);
        return status;
    });
}

} // namespace qdb
