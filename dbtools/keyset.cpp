// keyset key value: sets one mailbox key through the camera database.
#include "run.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Only the first two characters are compared: "ss0" is accepted as ss.
constexpr const char* names[] = {"vv", "v1", "pp", "p0", "p1", "p2",
                                 "p3", "ss", "s0", "s1", "s2", "s3"};

bool known_name(const char* key) {
    for (const char* name : names) {
        if (std::strncmp(key, name, 2) == 0) return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("\n\t****** Usage: keyset v1 1234_5678\n\n", stdout);
        return 0;
    }
    if (!known_name(argv[1])) {
        std::fputs("error name\n", stdout);
        return 1;
    }
    // The words the documented command line would give; no shell involved.
    std::string line = std::string("dbset setups.qor.") + argv[1] + ".value " + argv[2];
    std::fflush(stdout);
    qor::run(qor::command_words(line));
    return 0;
}
