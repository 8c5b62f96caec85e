// Scratch directories, header cards and frames written by an independent
// FITS writer (cfitsio) for the tests.
#pragma once

#include "scratch.h"

#include <cstdlib>
#include <filesystem>
#include <fitsio.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace pgctest {

// The project's scratch folder, with its path at hand as dir.
struct Scratch : qor::test::Scratch {
    const std::filesystem::path& dir = qor::test::Scratch::dir();
    Scratch() : qor::test::Scratch("pgc") {}
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void spit(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

// Blank-padded, as a Fortran character variable or a header card.
inline std::string padded(std::string s, std::size_t len = 100) {
    s.resize(len, ' ');
    return s;
}

// A character argument that ends exactly where readable memory ends, as a
// Fortran CHARACTER variable the name fills may: any byte read past it
// faults, in every build.
struct EdgeName {
    std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    char* base = static_cast<char*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    const char* at = nullptr;
    explicit EdgeName(const std::string& name) {
        mprotect(base + page, page, PROT_NONE);
        char* to = base + page - name.size();
        name.copy(to, name.size());
        at = to;
    }
    ~EdgeName() { munmap(base, 2 * page); }
};

inline std::string card(const std::string& text) {
    return padded(text.substr(0, 80), 80);
}

// An integer value right-justified to column 30, as FITS writers put it.
inline std::string value_card(const std::string& key, long v) {
    const std::string num = std::to_string(v);
    return card(padded(key, 8) + "= " + std::string(20 - num.size(), ' ') + num);
}

inline std::string blocks(const std::string& cards, std::size_t n) {
    return padded(cards, n * 2880);
}

// Writes an image with cfitsio, END in block header_blocks; bzero, when
// given, is a keyword behind 30 comments and the pixels are stored as they
// are. Returns the byte offset of the data, -1 on failure.
inline long long write_fits(const std::string& path, long nx, long ny, int bitpix, int datatype,
                            const void* values, int header_blocks = 2, double* bzero = nullptr) {
    int st = 0, keys = 0, more = 0;
    fitsfile* f = nullptr;
    long naxes[2] = {nx, ny};
    fits_create_file(&f, ("!" + path).c_str(), &st);
    fits_create_img(f, bitpix, 2, naxes, &st);
    fits_write_img(f, datatype, 1, nx * ny, const_cast<void*>(values), &st);
    for (int i = 0; bzero && i < 30; ++i) fits_write_comment(f, "before BZERO", &st);
    if (bzero) fits_write_key(f, TDOUBLE, "BZERO", bzero, nullptr, &st);
    fits_get_hdrspace(f, &keys, &more, &st);
    for (; keys + 1 <= (header_blocks - 1) * 36; ++keys) fits_write_comment(f, "pad", &st);
    LONGLONG head = 0, data = 0, end = 0;
    fits_get_hduaddrll(f, &head, &data, &end, &st);
    fits_close_file(f, &st);
    return st == 0 ? data : -1;
}

} // namespace pgctest
