#include "fits_out.h"

#include <algorithm>
#include <fitsio.h>
#include <sys/mman.h>

namespace qarch {

namespace {

std::string cfitsio_error(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    char detail[FLEN_ERRMSG] = {};
    std::string all = text;
    while (fits_read_errmsg(detail)) all += std::string("; ") + detail;
    return all;
}

// Past 68 characters (inner quotes doubled) a text does not fit one card.
bool continues(const Keyword& k) {
    if (k.kind != Keyword::Kind::text) return false;
    return k.text.size() + std::count(k.text.begin(), k.text.end(), '\'') > 68;
}

void write_key(fitsfile* f, const Keyword& k, int* status) {
    const char* name = k.name.c_str();
    const char* comment = k.comment.c_str();
    switch (k.kind) {
    case Keyword::Kind::text:
        if (continues(k))
            fits_write_key_longstr(f, name, k.text.c_str(), comment, status);
        else
            fits_write_key_str(f, name, k.text.c_str(), comment, status);
        break;
    case Keyword::Kind::real:
        if (k.decimals < 0)
            fits_write_key_dbl(f, name, k.real, k.decimals, comment, status);
        else
            fits_write_key_fixdbl(f, name, k.real, k.decimals, comment, status);
        break;
    case Keyword::Kind::integer:
        fits_write_key_lng(f, name, k.integer, comment, status);
        break;
    case Keyword::Kind::logical:
        fits_write_key_log(f, name, k.logical ? 1 : 0, comment, status);
        break;
    case Keyword::Kind::card:
        fits_write_record(f, k.text.c_str(), status);
        break;
    case Keyword::Kind::comment:
        fits_write_comment(f, k.text.c_str(), status);
        break;
    case Keyword::Kind::history:
        fits_write_history(f, k.text.c_str(), status);
        break;
    }
}

} // namespace

MemoryFits write_fits(const std::vector<Keyword>& keys, int n1, int n2,
                      const std::uint16_t* counts) {
    MemoryFits out;
    const std::size_t data = (2 * static_cast<std::size_t>(n1) * n2 + 2879) / 2880 * 2880;
    // Room for every card, long texts several times over: the file is built
    // in one piece, without growing it on the way.
    const std::size_t header = ((keys.size() * 3 + 40) / 36 + 1) * 2880;
    // In huge pages where the system has them: a full frame's copy is then
    // a few page faults instead of thousands.
    constexpr std::size_t huge_page = 2 << 20;
    std::size_t size = (header + data + huge_page - 1) / huge_page * huge_page;
    void* buffer = std::aligned_alloc(huge_page, size);
    if (buffer) madvise(buffer, size, MADV_HUGEPAGE); // only advice
    if (!buffer) {
        out.error = "no memory for the copy";
        return out;
    }
    int status = 0;
    fitsfile* f = nullptr;
    if (fits_create_memfile(&f, &buffer, &size, 10 * 2880, std::realloc, &status) == 0) {
        long naxes[2] = {n1, n2};
        fits_create_img(f, USHORT_IMG, 2, naxes, &status);
        // Readers are told when a text continues on CONTINUE cards.
        if (std::any_of(keys.begin(), keys.end(), continues)) fits_write_key_longwarn(f, &status);
        for (const auto& k : keys) {
            if (status) break;
            write_key(f, k, &status);
        }
        fits_write_date(f, &status);
        fits_write_img(f, TUSHORT, 1, static_cast<LONGLONG>(n1) * n2,
                       const_cast<std::uint16_t*>(counts), &status);
        // The morning's transfer and every reader can tell a damaged copy.
        fits_write_chksum(f, &status);
        LONGLONG head = 0, start = 0, end = 0;
        fits_get_hduaddrll(f, &head, &start, &end, &status);
        if (status == 0) out.size = static_cast<std::size_t>(start) + data;
        int closing = 0;
        fits_close_file(f, &closing);
        if (status == 0) status = closing;
    }
    out.buffer.reset(static_cast<char*>(buffer));
    if (status == 0 && out.size > size) out.error = "the copy came out short";
    if (status != 0) out.error = cfitsio_error(status);
    if (!out.error.empty()) out.size = 0;
    return out;
}

} // namespace qarch
