// jdstamp: writes the night's day number into /home/tarnu/jd.tmp.
#include "guarded.h"
#include "jd.h"
#include "site.h"
#include "tools.h"

#include <cstdio>

namespace qdb {

int jdstamp(qor::System& sys, const Args&) {
    return qor::guarded(sys, "jdstamp", [&] {
        std::string now = qor::getime(sys);
        sys.print(now.substr(0, 25));
        char text[16];
        std::snprintf(text, sizeof text, "%04d", qor::day_number(now));
        std::string path = qor::site_path("/home/tarnu/jd.tmp");
        if (qor::Done d = sys.replace_file(path, text); !d) {
            sys.print("cannot write " + path + ": " + d.why() + "\n");
            return 1;
        }
        return 0;
    });
}

} // namespace qdb
