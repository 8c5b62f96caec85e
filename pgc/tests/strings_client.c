/* A C program that links the image library and calls index from <strings.h>:
 * it must get the C library's index, whose result is a pointer into the
 * string, and not the library's routine of the same name. */
#include "pgc.h"

#include <stdio.h>
#include <strings.h>

int main(int argc, char** argv) {
    (void)argv;
    char text[] = "abcabc";
    const char wanted = (char)('b' + argc); /* 'c', not known to the compiler */
    char* at = index(text, wanted);
    if (at != text + 2 || nindex(text, "ca") != 2) {
        puts("FAILED: index is not the C library's");
        return 1;
    }
    puts("the C library's index");
    return 0;
}
