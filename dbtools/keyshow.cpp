// keyshow key: prints one mailbox key; dbshow writes straight to our stdout.
#include "guarded.h"
#include "tools.h"

namespace qdb {

int keyshow(qor::System& sys, const Args& args) {
    return qor::guarded(sys, "keyshow", [&] {
        if (args.size() < 2) {
            sys.print("\n\t****** Usage: keyshow v1\n\n");
            return 0;
        }
        return sys.run(qor::command_words("dbshow setups.qor." + args[1] + ".value"));
    });
}

} // namespace qdb
