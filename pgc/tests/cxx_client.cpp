// An outside program in C++ that includes the library's public header at
// the compiler's default standard (no -std option), as a caller's own build
// would: the header must hold the C interface alone.
#include "pgc.h"

#include <cstdio>
#include <cstring>

static int failures = 0;

static void check(bool ok, const char* what) {
    if (!ok) {
        std::printf("FAILED: %s\n", what);
        ++failures;
    }
}

int main() {
    char head[72][80];
    std::memset(head, ' ', sizeof head);
    std::memcpy(head[3], "NAXIS1  =", 9);
    check(c_indexpos(head, "NAXIS1  ") == 3 && indexpos(head, "OBJECT  ", 72) == 72, "indexpos");
    check(pgc_index("abc", 'c') == 2 && nindex("abcabc", "ca") == 2, "pgc_index and nindex");

    short s[2] = {0x0102, 0x0304};
    swap2(s, static_cast<int>(sizeof s));
    check(s[0] == 0x0201 && s[1] == 0x0403, "swap2");

    static short sky[64 * 64];
    for (int i = 0; i < 64 * 64; ++i) sky[i] = static_cast<short>(1000 + i % 3 - 1);
    float peak = 0, sigm = 0;
    white_(sky, 64, 64, &peak, &sigm);
    check(peak > 999.0f && peak < 1001.0f && sigm >= 1.0f, "white_");

    char cc[12];
    toms(12.5, cc, 1);
    check(std::memcmp(cc, " 12:30:00.0", 12) == 0, "toms");
    short values[2] = {10, 20};
    de_f64(values, 0.0, 2, 1);
    check(values[0] == 5 && values[1] == 10, "de_f64");
    int flen = -1;
    filesize_("/nonexistent/pgc_cxx_client", &flen);
    check(flen == 0, "filesize_");

    if (failures != 0) return 1;
    std::puts("all checks passed");
    return 0;
}
