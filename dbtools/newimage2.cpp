// newimage2 obsnum: makes the quick-look previews of a new frame.
#include "guarded.h"
#include "site.h"
#include "text.h"
#include "tools.h"


namespace qdb {

int newimage2(qor::System& sys, const Args& args) {
    return qor::guarded(sys, "newimage2", [&] {
        if (args.size() < 2) {
            sys.print("\tUsage newimage2 obsnum\n");
            return 0;
        }
        auto obsnum = qor::whole_int(args[1]);
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
