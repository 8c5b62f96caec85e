// GIF87a writer for the grey previews. The encoder's steps keep their
// documented names (ClearTable, FillBlockBuf, SaveCode, and PrefixCode for
// the string being grown); their state is passed to them.
#include "gif.h"

#include <array>
#include <cstddef>

namespace pgc {

namespace {

constexpr int table_size = 4999; // a prime: the probe visits every slot
constexpr int clear_code = 256;
constexpr int end_code = 257;
constexpr int first_code = 258;  // the first string code
constexpr int code_limit = 4096; // codes fit in 12 bits: the table is full

// Codes on their way out: packed least significant bit first into data
// sub-blocks of up to 255 bytes.
struct Stream {
    std::vector<std::uint8_t>& out;
    std::array<std::uint8_t, 256> block{}; // [0] the sub-block's length
    int count = 0;                         // data bytes in block
    std::uint32_t bits = 0;                // not yet in block, least significant first
    int pending = 0;                       // how many of them
};

// The string table: an open-addressing hash of (prefix code, suffix byte)
// to the string's code.
struct Table {
    std::array<int, table_size> prefix{};
    std::array<std::uint8_t, table_size> suffix{};
    std::array<int, table_size> code{}; // 0: a free slot
    int next = first_code;              // the next free code
    int width = 9;                      // bits a code is sent with
    int widen_at = 512;                 // 2 to the width
};

void put(std::vector<std::uint8_t>& out, const std::uint8_t* bytes, std::size_t n) {
    out.insert(out.end(), bytes, bytes + n);
}

void put16(std::uint8_t* at, int v) {
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}

// Everything before the code stream.
void put_head(std::vector<std::uint8_t>& out, int width, int height) {
    // Screen: a global table of 256 colours, 8 bits each, unsorted.
    std::uint8_t screen[13] = {'G', 'I', 'F', '8', '7', 'a', 0, 0, 0, 0, 0xF7, 0, 0};
    put16(screen + 6, width);
    put16(screen + 8, height);
    put(out, screen, sizeof screen);
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        const std::uint8_t grey[3] = {v, v, v};
        put(out, grey, sizeof grey);
    }
    // Image at 0, 0, no local table, not interlaced; LZW minimum code size 8.
    std::uint8_t image[11] = {',', 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 8};
    put16(image + 5, width);
    put16(image + 7, height);
    put(out, image, sizeof image);
}

// Writes the current sub-block.
void SaveCode(Stream& s) {
    s.block[0] = static_cast<std::uint8_t>(s.count);
    put(s.out, s.block.data(), static_cast<std::size_t>(s.count) + 1);
    s.count = 0;
}

// Emits code at the given width.
void FillBlockBuf(Stream& s, int code, int width) {
    s.bits |= static_cast<std::uint32_t>(code) << s.pending;
    s.pending += width;
    while (s.pending > 7) {
        s.block[++s.count] = static_cast<std::uint8_t>(s.bits);
        if (s.count == 255) SaveCode(s);
        s.bits >>= 8;
        s.pending -= 8;
    }
}

// Ends the code stream: the pending bits zero-filled to a byte. A stream
// that ends on a byte boundary still gets a zero byte, as it always has:
// the files' exact bytes are pinned.
void flush(Stream& s) {
    if (s.pending == 0 && s.count == 0) return;
    s.block[++s.count] = static_cast<std::uint8_t>(s.bits);
    SaveCode(s);
}

// Forgets every string; the prefixes and suffixes stay, as a free code
// marks a free slot.
void ClearTable(Table& t) {
    t.next = first_code;
    t.width = 9;
    t.widen_at = 512;
    t.code.fill(0);
}

// The slot that holds the string PrefixCode + suffix, or the free slot
// where it belongs.
int slot_of(const Table& t, int PrefixCode, int suffix) {
    int slot = (suffix << 4) ^ PrefixCode;
    const int step = slot == 0 ? 1 : table_size - slot;
    while (t.code[slot] != 0 && (t.prefix[slot] != PrefixCode || t.suffix[slot] != suffix)) {
        slot -= step;
        if (slot < 0) slot += table_size;
    }
    return slot;
}

// Gives the string PrefixCode + suffix the next code, in its free slot.
void learn(Table& t, int slot, int PrefixCode, int suffix) {
    // The code that takes the table past the width was still sent at the
    // old one; the decoder widens after it too.
    if (t.next == t.widen_at) {
        t.widen_at *= 2;
        ++t.width;
    }
    t.prefix[slot] = PrefixCode;
    t.suffix[slot] = static_cast<std::uint8_t>(suffix);
    t.code[slot] = t.next++;
}

// One more pixel: the string grows while the table knows it; otherwise it
// goes out, the table learns it with the pixel added, and the pixel starts
// the next string. Returns the string now being grown.
int add_pixel(Table& t, Stream& s, int PrefixCode, int pixel) {
    const int slot = slot_of(t, PrefixCode, pixel);
    if (t.code[slot] != 0) return t.code[slot];
    FillBlockBuf(s, PrefixCode, t.width);
    if (t.next == code_limit) {
        // Table full: start afresh; the clear code still goes out at 12 bits.
        FillBlockBuf(s, clear_code, t.width);
        ClearTable(t);
    } else {
        learn(t, slot, PrefixCode, pixel);
    }
    return pixel;
}

// The code stream of count pixels, read from the last to the first: that
// turns the image by 180 degrees, and strings run on across rows.
void put_codes(Stream& s, const std::uint8_t* c256, long count) {
    Table t;
    ClearTable(t);
    FillBlockBuf(s, clear_code, t.width);
    const std::uint8_t* p = c256 + count;
    int PrefixCode = *--p;
    while (p != c256) PrefixCode = add_pixel(t, s, PrefixCode, *--p);
    FillBlockBuf(s, PrefixCode, t.width);
    FillBlockBuf(s, end_code, t.width);
    flush(s);
}

} // namespace

void jcomp(const std::uint8_t* c256, int m1, int m2, std::vector<std::uint8_t>& out) {
    if (m1 < 1 || m2 < 1 || m1 > 65535 || m2 > 65535) return; // no GIF has such a side
    put_head(out, m1, m2);
    Stream s{out};
    put_codes(s, c256, static_cast<long>(m1) * m2);
    const std::uint8_t trailer[2] = {0x00, ';'};
    put(out, trailer, sizeof trailer);
}

} // namespace pgc
