// keyset key value: sets one mailbox key through the camera database.
#include "guarded.h"
#include "tools.h"

namespace qdb {

namespace {

// Only the first two characters are compared: "ss0" is accepted as ss.
constexpr const char* names[] = {"vv", "v1", "pp", "p0", "p1", "p2",
                                 "p3", "ss", "s0", "s1", "s2", "s3"};

bool known_name(const std::string& key) {
    for (const char* name : names) {
        if (key.compare(0, 2, name) == 0) return true;
    }
    return false;
}

} // namespace

int keyset(qor::System& sys, const Args& args) {
    return qor::guarded(sys, "keyset", [&] {
        if (args.size() < 3) {
            sys.print("\n\t****** Usage: keyset v1 1234_5678\n\n");
            return 0;
        }
        if (!known_name(args[1])) {
            sys.print("error name\n");
            return 1;
        }
        // The words the documented command line would give; no shell involved.
        sys.run(qor::command_words("dbset setups.qor." + args[1] + ".value " + args[2]));
        return 0;
    });
}

} // namespace qdb
