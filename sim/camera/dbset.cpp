// dbset key value: sets one key of the simulated camera database.
#include "camdb.h"

#include <cstdio>

int main(int argc, char** argv) {
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
    return 0;
}
