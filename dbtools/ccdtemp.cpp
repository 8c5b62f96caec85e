// ccdtemp: the detector temperature as the camera database holds it.
#include "guarded.h"
#include "tools.h"

namespace qdb {

int ccdtemp(qor::System& sys, const Args&) {
    return qor::guarded(sys, "ccdtemp", [&] {
        return sys.run({"dbshow", "cameradata.temperature.current.detector"});
    });
}

} // namespace qdb
