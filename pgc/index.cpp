// The routine index under its documented name. This file stays alone in its
// archive member (see header_utils.h): only a program that calls index gets
// this definition in place of the C library's. The C++ name differs from the
// symbol so that the compiler does not take it for its built-in index.
extern "C" int pgc_index(const char* a, int c);

extern "C" int index_routine(const char* a, int c) __asm__("index");

extern "C" int index_routine(const char* a, int c) {
    return pgc_index(a, c);
}
