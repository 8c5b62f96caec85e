// Card search, strings and byte order.
#include "header_utils.h"
#include "internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

// ESC "(s17h9v0t" ESC "&l8D" ESC "&a9l64R" CR: small print, 8 lines per inch,
// cursor to column 9, row 64 of the page.
extern "C" const char small[24] = {0x1B, '(', 's', '1',  '7', 'h', '9', 'v', '0', 't', 0x1B, '&',
                                   'l',  '8', 'D', 0x1B, '&', 'a', '9', 'l', '6', '4', 'R',  0x0D};
// ESC "&l0H": eject the page.
extern "C" const char tail[5] = {0x1B, '&', 'l', '0', 'H'};

extern "C" int pgc_index(const char* a, int c) {
    const char ch = static_cast<char>(c);
    if (ch == '\0') return -1;
    for (int j = 0; a[j] != '\0'; ++j)
        if (a[j] == ch) return j;
    return -1;
}

extern "C" int nindex(const char* a, const char* b) {
    const std::size_t lb = std::strlen(b);
    if (lb == 0) return -1;
    const std::size_t la = std::strlen(a);
    for (std::size_t j = 0; j + lb <= la; ++j)
        if (std::memcmp(a + j, b, lb) == 0) return static_cast<int>(j);
    return -1;
}

extern "C" int indexpos(const void* head, const char* f1, int n) {
    if (n <= 0) return 0;
    const char* cards = static_cast<const char*>(head);
    for (int j = 0; j < n; ++j)
        if (std::memcmp(cards + 80L * j, f1, 8) == 0) return j;
    return n;
}

extern "C" int c_indexpos(const void* head, const char* f1) {
    return indexpos(head, f1, 72);
}

extern "C" void stop(const char* s) {
    std::puts(s);
    std::exit(0);
}

extern "C" void swap2(void* items, int nbyte) {
    char* a = static_cast<char*>(items);
    for (int k = 0; k + 1 < nbyte; k += 2) std::swap(a[k], a[k + 1]);
}

extern "C" void swap4(void* items, int nbyte) {
    char* a = static_cast<char*>(items);
    for (int k = 0; k + 3 < nbyte; k += 4) {
        std::swap(a[k], a[k + 3]);
        std::swap(a[k + 1], a[k + 2]);
    }
}

namespace pgc {

std::string fortran_name(const char* f, std::size_t max_len, bool top_bit_ends) {
    std::string name;
    for (std::size_t i = 0; i < max_len; ++i) {
        const auto ch = static_cast<unsigned char>(f[i]);
        if (ch <= ' ' || ch == 0x7F || (top_bit_ends && ch >= 0x80)) break;
        name.push_back(static_cast<char>(ch));
    }
    return name;
}

namespace {

// The card's text from byte col to its end, terminated, for the scanners.
std::string field(const char* card, int col) {
    if (col < 0 || col >= 80) return {};
    std::string s(card + col, card + 80);
    if (auto nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
    return s;
}

} // namespace

std::optional<long> card_int(const char* card, int col) {
    const std::string s = field(card, col);
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (end == s.c_str() || errno == ERANGE) return std::nullopt;
    return v;
}

std::optional<double> card_real(const char* card, int col) {
    const std::string s = field(card, col);
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str()) return std::nullopt;
    return v;
}

std::size_t read_bytes(std::FILE* f, void* to, std::size_t n) {
    return n == 0 ? 0 : std::fread(to, 1, n, f);
}

} // namespace pgc
