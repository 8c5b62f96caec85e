// varshow group name: prints the camera database key setups.<group>.<name>.value.
#include "guarded.h"
#include "tools.h"

namespace qdb {

int varshow(qor::System& sys, const Args& args) {
    return qor::guarded(sys, "varshow", [&] {
        if (args.size() < 3) {
            sys.print("\n\t**** Usage: varshow variables obsnum\n\n");
            return 0;
        }
        return sys.run(qor::command_words("dbshow setups." + args[1] + "." + args[2] + ".value"));
    });
}

} // namespace qdb
