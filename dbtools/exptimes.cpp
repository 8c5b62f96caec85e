// exptimes: begin, end and read-out end of the last eight exposures.
#include "guarded.h"
#include "tools.h"

namespace qdb {

int exptimes(qor::System& sys, const Args&) {
    return qor::guarded(sys, "exptimes", [&] {
        int status = 0;
        for (int i = 0; i < 8; ++i) {
            for (const char* field : {"exp_begin", "exp_end", "ro_end"}) {
                status =
                    sys.run({"dbshow", "imageid.exposures." + std::to_string(i) + "." + field});
            }
        }
        return status;
    });
}

} // namespace qdb
