// Reading and writing parts of files in place, for Fortran callers.
#include "header_utils.h"
#include "internal.h"

#include <climits>
#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace {

// Longest name the '_' routines take; a path can be no longer on Linux.
constexpr std::size_t name_max = 4095;

void error_message() {
    std::fputs("error\n", stdout);
}

} // namespace

extern "C" void tvcoordc_(const char* f1, const void* a) {
    qor::File f = qor::open_file(pgc::fortran_name(f1, name_max, false), "r+b");
    if (!f) return error_message();
    std::fwrite(a, 1, 72 * 80, f.get());
}

extern "C" void tvread_(const char* f1, void* a, const int* len, const int* pos) {
    // Only read from the file, so a read-only file works too.
    qor::File f = qor::open_file(pgc::fortran_name(f1, name_max, false), "rb");
    if (!f || *len < 0 || *pos < 0) return error_message();
    if (std::fseek(f.get(), *pos, SEEK_SET) != 0) return;
    pgc::read_bytes(f.get(), a, static_cast<std::size_t>(*len));
}

extern "C" void tvwrite_(const char* f1, const void* a, const int* len, const int* pos) {
    qor::File f = qor::open_file(pgc::fortran_name(f1, name_max, false), "r+b");
    if (!f || *len < 0 || *pos < 0) return error_message();
    if (std::fseek(f.get(), *pos, SEEK_SET) != 0) return;
    std::fwrite(a, 1, static_cast<std::size_t>(*len), f.get());
}

extern "C" void writefits_(const char* f1, const void* a, const int* len, const int* flag) {
    if (*len < 0) return error_message();
    const std::string name = pgc::fortran_name(f1, name_max, false);
    // Later pieces go only to a file the first piece created: appending to
    // a missing file would start a file without its header.
    qor::File f = qor::open_file(name, *flag == 1 ? "wb" : "r+b");
    if (!f) return error_message();
    if (*flag != 1 && std::fseek(f.get(), 0, SEEK_END) != 0) return error_message();
    std::fwrite(a, 1, static_cast<std::size_t>(*len), f.get());
}

extern "C" long file_size(const char* name) {
    qor::File f = qor::open_file(name, "r");
    if (!f) return 0;
    struct stat st {};
    // A directory opens for reading too, but has no size as a file.
    if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<long>(st.st_size);
}

extern "C" void filesize_(const char* name, int* flen) {
    const long size = file_size(pgc::fortran_name(name, 79, false).c_str());
    *flen = size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

extern "C" void writetail_(const void* cards) {
    const char* head = static_cast<const char*>(cards);
    qor::File f = qor::open_file("pgplot.hp", "r+b");
    if (!f || std::fseek(f.get(), 0, SEEK_END) != 0) return error_message();
    // The page ends with its eject sequence; anything shorter is no page.
    if (std::ftell(f.get()) < 5 || std::fseek(f.get(), -5, SEEK_END) != 0) return error_message();

    std::string out(small, sizeof small);
    auto card = [&](int j) {
        out.append(head + 80 * j, 79);
        out += "\r\n";
    };
    for (const char* key : {"DATE-OBS", "TIME    ", "EXPOSURE", "RA      ", "DEC     ", "HA      ",
                            "EPOCH   ", "OBJECT  ", "OBSERVER"}) {
        const int j = c_indexpos(head, key);
        if (j < 72) card(j);
    }
    // The galactic block is 11 cards; near the end of the header it stops at
    // the last card.
    if (const int g = c_indexpos(head, "GALLONG "); g < 72)
        for (int j = g; j <= g + 10 && j < 72; ++j) card(j);
    out.append(tail, sizeof tail);
    std::fwrite(out.data(), 1, out.size(), f.get());
}
