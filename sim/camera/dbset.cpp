// dbset key value: sets one key of the simulated camera database.
// Setting setups.flags.start.value to 1 starts an exposure with the set-up
// in the database, as the camera control system does.
#include "camdb.h"
#include "camera.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void start_from_database() {
    using qor::sim::db_get;
    qor::sim::Setup s;
    s.hundredths = qor::sim::db_get_long("setups.exposure.current.value", 0);
    s.sc = db_get("setups.sc.0.value").value_or(s.sc);
    s.sr = db_get("setups.sr.0.value").value_or(s.sr);
    s.nc = db_get("setups.nc.0.value").value_or(s.nc);
    s.nr = db_get("setups.nr.0.value").value_or(s.nr);
    s.windowset = db_get("setups.flags.windowset.value").value_or(s.windowset);
    s.readspeed = db_get("setups.readspeed.0.value").value_or(s.readspeed);
    s.object = db_get("setups.object.0.value").value_or(s.object);
    if (qor::sim::start_exposure(s) == 0) qor::sim::db_set("setups.flags.start.value", "0");
}

} // namespace

int main(int argc, char** argv) {
    qor::sim::hang_if_asked("dbset");
    if (argc < 3) {
        std::fputs("usage: dbset key value\n", stderr);
        return 2;
    }
    if (!qor::sim::valid_key(argv[1])) {
        std::fprintf(stderr, "dbset: bad key name\n");
        return 2;
    }
    // Further words are ignored: a value is always one word.
    if (!qor::sim::db_set(argv[1], argv[2])) {
        std::fprintf(stderr, "dbset: cannot write %s\n", argv[1]);
        return 1;
    }
    if (std::string(argv[1]) == "setups.flags.start.value" && std::string(argv[2]) == "1") {
        start_from_database();
    }
    return 0;
}
