// Loading raw and FITS frames for the quick-look programs.
#include "frames.h"
#include "header_utils.h"
#include "internal.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>

namespace pgc {

namespace {

// Rows are read in pieces of about this many bytes: a full 4160 x 4096 frame
// then takes some 17 reads instead of one per row or per pixel.
constexpr std::size_t chunk_bytes = 2 << 20;

const char* card(const Head& h, int j) {
    return h.data() + 80 * j;
}

int card_value(const Head& h, int j) {
    const auto v = card_int(card(h, j), 20);
    return v && *v >= INT32_MIN && *v <= INT32_MAX ? static_cast<int>(*v) : 0;
}

// A size card as a message shows it: its number, or what stands there
// instead, since a card that is no number reads as 0 above.
std::string size_text(const Head& h, int j, const std::string& name) {
    const auto v = card_int(card(h, j), 20);
    if (v && *v >= INT32_MIN && *v <= INT32_MAX) return name + ' ' + std::to_string(*v);
    std::string text(card(h, j) + 20, 60);
    text = text.substr(0, text.find('/'));
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return name + " has no value";
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    const std::size_t sign = text[0] == '+' || text[0] == '-' ? 1 : 0;
    const bool number =
        text.size() > sign && text.find_first_not_of("0123456789", sign) == std::string::npos;
    if (v || number) return name + ' ' + text + " (out of range)";
    return name + " '" + text + "' (not a number)";
}

void to_host(short* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const auto u = static_cast<std::uint16_t>(p[i]);
        p[i] = static_cast<short>(static_cast<std::uint16_t>((u >> 8) | (u << 8)));
    }
}

Load open_frame(const std::string& path, Frame& f, qor::File& file) {
    f = Frame{};
    file = qor::open_file(path, "rb");
    if (!file) {
        f.message = "cannot open " + path;
        return Load::cannot_open;
    }
    if (read_bytes(file.get(), f.head.data(), f.head.size()) != f.head.size()) {
        f.message = path + ": header shorter than 5760 bytes";
        return Load::bad_frame;
    }
    f.n1 = card_value(f.head, 3);
    f.n2 = card_value(f.head, 4);
    return Load::ok;
}

// Notes on a frame that loaded all the same add up.
void note(Frame& f, const std::string& text) {
    f.message += (f.message.empty() ? "" : "; ") + text;
}

bool blank(const char* p, std::size_t n) {
    return std::all_of(p, p + n, [](char c) { return c == ' '; });
}

// Where the pixels of a FITS frame start: behind the header block that holds
// END. The chain's frames have a 72-card header, pixels from 5760; when END
// stands in the first block, that layout has a blank second header block. A
// header of one block is followed directly by its pixels, and then the second
// block holds pixels: from 2880 only when it is not blank, or when the file
// is long enough for the pixels from 2880 but not from 5760 (a frame whose
// first 1440 pixels happen to read as blanks). need is the byte count of the
// pixels the loader reads.
long long fits_data_start(std::FILE* file, Frame& f, const std::string& path, long long need,
                          long long size) {
    const int end = c_indexpos(f.head.data(), "END     ");
    if (end < 36) {
        if (!blank(f.head.data() + 2880, 2880)) return 2880;
        if (size < head_bytes + need && size >= 2880 + need) return 2880;
        return head_bytes;
    }
    if (end < head_cards) return head_bytes;
    char block[2880];
    for (int blocks = 3; blocks <= 10; ++blocks) {
        if (read_bytes(file, block, sizeof block) != sizeof block) break;
        if (indexpos(block, "END     ", 36) < 36) return 2880LL * blocks;
    }
    note(f, path + ": no END card, pixels read from byte 5760");
    return head_bytes;
}

long long file_length(std::FILE* file) {
    struct stat st {};
    return fstat(fileno(file), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

// Rows the file holds whole when row r (side pixels) starts at pixel r*stride
// behind byte data_at; at most side.
long long rows_held(long long size, long long data_at, long long stride, long long side) {
    const long long pixels = size > data_at ? (size - data_at) / 2 : 0;
    if (pixels < side) return 0;
    return std::min(side, (pixels - side) / stride + 1);
}

std::string no_rows(const std::string& path, const Frame& f, long long size) {
    return path + ": NAXIS1 " + std::to_string(f.n1) + " NAXIS2 " + std::to_string(f.n2) +
           ", but the file (" + std::to_string(size) + " bytes) holds not one row of it";
}

void size_image(Frame& f, int side) {
    f.side = side;
    f.mm = block_factor(side);
    f.pix.assign(static_cast<std::size_t>(f.mm) * 512 * f.mm * 512, 0);
}

std::string rows_note(long got, long want) {
    return "frame ends after " + std::to_string(got) + " of " + std::to_string(want) + " rows";
}

// A FITS header we can load: 16-bit pixels (or no BITPIX card) and a side
// of 1..4096. Takes BZERO on the way, noting when it is missing.
bool loadable_fits_head(const std::string& path, Frame& f) {
    if (const int b = c_indexpos(f.head.data(), "BITPIX  "); b < head_cards) {
        const auto bitpix = card_int(card(f.head, b), 20);
        if (bitpix && *bitpix != 16) {
            f.message = path + ": BITPIX " + std::to_string(*bitpix) + ", not 16-bit pixels";
            return false;
        }
    }
    const int side = std::min(f.n1, f.n2);
    if (side < 1 || side > max_side) {
        f.message = path + ": " + size_text(f.head, 3, "NAXIS1") + ", " +
                    size_text(f.head, 4, "NAXIS2") + " is no frame of side 1..4096";
        return false;
    }
    // The FITS default for a missing BZERO is 0.
    if (const int z = c_indexpos(f.head.data(), "BZERO   "); z < head_cards) {
        f.bzero = card_real(card(f.head, z), 20).value_or(0.0);
    } else {
        note(f, path + ": no BZERO card, 0 used");
    }
    return true;
}

// The held rows of a side x side image whose row r starts at pixel
// r * stride behind byte data_at, into f.pix in host order. False when the
// pixels cannot be reached at all.
bool read_fits_pixels(std::FILE* file, Frame& f, long long data_at, long long stride,
                      long long held) {
    const long long n = f.side;
    if (fseeko(file, static_cast<off_t>(data_at), SEEK_SET) != 0) return false;
    if (stride == n) {
        // A partial last row is kept as read; what the file lacks stays 0.
        const std::size_t got = read_bytes(file, f.pix.data(), n * n * 2) / 2;
        to_host(f.pix.data(), got);
        return true;
    }
    // Rows longer than the side: the first side pixels of each.
    for (long long r = 0; r < held; ++r) {
        short* to = f.pix.data() + r * n;
        if (fseeko(file, static_cast<off_t>(data_at + 2 * r * stride), SEEK_SET) != 0 ||
            read_bytes(file, to, 2 * n) != static_cast<std::size_t>(2 * n))
            break;
        to_host(to, n);
    }
    return true;
}

// Blocks from this size on are mapped on their own, where huge pages can
// back them.
constexpr std::size_t huge_page = 2 << 20;

} // namespace

template <class T> T* FrameAllocator<T>::allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = n * sizeof(T);
    if (bytes < huge_page) return std::allocator<T>().allocate(n);
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    madvise(p, bytes, MADV_HUGEPAGE); // only advice: without huge pages all works the same
    return static_cast<T*>(p);
}

template <class T> void FrameAllocator<T>::deallocate(T* p, std::size_t n) {
    if (n * sizeof(T) < huge_page) return std::allocator<T>().deallocate(p, n);
    munmap(p, n * sizeof(T));
}

template struct FrameAllocator<short>;

int block_factor(int n) {
    return n <= 0 ? 1 : (n - 1) / 512 + 1;
}

Load load_raw(const std::string& path, Frame& f, RowFn baseline) try {
    qor::File file;
    if (Load r = open_frame(path, f, file); r != Load::ok) return r;
    f.coloff = card_value(f.head, 5);
    const int n1 = f.n1, n2 = f.n2;
    if (n2 < 1 || n2 > max_side || n1 < std::max(n2, 32) || n1 > max_raw_row) {
        f.message = path + ": " + size_text(f.head, 3, "NAXIS1") + ", " +
                    size_text(f.head, 4, "NAXIS2") +
                    " is no raw frame (NAXIS2 1..4096, NAXIS1 from NAXIS2 and 32 up to 4160)";
        return Load::bad_frame;
    }
    const long long size = file_length(file.get());
    if (rows_held(size, head_bytes, n1, n1) == 0) {
        f.message = no_rows(path, f, size);
        return Load::bad_frame;
    }
    size_image(f, n2);

    const std::size_t row_px = static_cast<std::size_t>(n1);
    const std::size_t rows_per_chunk = std::max<std::size_t>(1, chunk_bytes / (2 * row_px));
    std::vector<short> chunk(rows_per_chunk * row_px);
    long row = 0;
    while (row < n2) {
        const std::size_t want = std::min<std::size_t>(rows_per_chunk, n2 - row);
        const std::size_t got =
            read_bytes(file.get(), chunk.data(), want * row_px * 2) / (2 * row_px);
        for (std::size_t k = 0; k < got; ++k, ++row) {
            short* r = chunk.data() + k * row_px;
            baseline(r, n1, n2, f.coloff);
            std::copy_n(r, n2, f.pix.data() + row * n2);
        }
        if (got < want) break;
    }
    if (row < n2) {
        f.missing_rows = n2 - row;
        f.message = path + ": " + rows_note(row, n2);
    }
    return Load::ok;
} catch (const std::bad_alloc&) {
    f.message = path + ": no memory for the frame";
    return Load::bad_frame;
}

Load load_fits(const std::string& path, Frame& f, Rows rows) try {
    qor::File file;
    if (Load r = open_frame(path, f, file); r != Load::ok) return r;
    if (!loadable_fits_head(path, f)) return Load::bad_frame;
    const int side = std::min(f.n1, f.n2);

    // Everything below is sized by the side (at most 4096): a row length of
    // any size only moves where each row is read from.
    const long long n = side;
    const long long stride = rows == Rows::naxis1_rows ? f.n1 : n;
    const long long size = file_length(file.get());
    const long long data_at =
        fits_data_start(file.get(), f, path, 2 * ((n - 1) * stride + n), size);
    const long long held = rows_held(size, data_at, stride, n);
    if (held == 0) {
        f.message = no_rows(path, f, size);
        return Load::bad_frame;
    }
    size_image(f, side);
    if (!read_fits_pixels(file.get(), f, data_at, stride, held)) {
        f.message = path + ": cannot seek to the pixels";
        return Load::bad_frame;
    }
    if (held < n) {
        f.missing_rows = static_cast<long>(n - held);
        note(f, path + ": " + rows_note(static_cast<long>(held), static_cast<long>(n)));
    }
    return Load::ok;
} catch (const std::bad_alloc&) {
    f.message = path + ": no memory for the frame";
    return Load::bad_frame;
}

} // namespace pgc
