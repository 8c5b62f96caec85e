// dbshow key: prints the value of one key of the simulated camera database,
// from the first character of the output, then a newline. Callers read the
// value at fixed positions, so nothing else is ever printed on stdout.
#include "camdb.h"

#include <cstdio>

int main(int argc, char** argv) {
    qor::sim::hang_if_asked("dbshow", argc > 1 ? argv[1] : "");
    if (argc < 2) {
        std::fputs("usage: dbshow key\n", stderr);
        return 2;
    }
    auto value = qor::sim::db_get(argv[1]);
    if (!value) return 1;
    std::fwrite(value->data(), 1, value->size(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
