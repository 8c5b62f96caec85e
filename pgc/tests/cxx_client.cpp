// An outside program in C++ that includes the library's public header at
// the compiler's default standard (no -std option), as a caller's own build
// would: the header must hold the C interface alone. What the routines do is
// the C client's to check; this one calls one, to link against it too.
#include "pgc.h"

#include <cstdio>
#include <cstring>

int main() {
    char cc[12];
    toms(12.5, cc, 1);
    if (std::memcmp(cc, " 12:30:00.0", 12) != 0) {
        std::puts("FAILED: toms");
        return 1;
    }
    std::puts("all checks passed");
    return 0;
}
