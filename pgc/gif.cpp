// GIF87a writer for the grey previews.
#include "gif.h"

namespace pgc {

void GifEncoder::Put(const void* bytes, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    out.insert(out.end(), p, p + n);
}

void GifEncoder::ClearTable() {
    Encode = 258;
    RunBits = 9;
    MaxCodeSize = 512;
    EncodeTable.fill(0);
}

void GifEncoder::FillBlockBuf() {
    TempCode |= static_cast<std::uint32_t>(Code) << ShiftBits;
    ShiftBits += RunBits;
    while (ShiftBits > 7) {
        BlockBuf[++ByteCount] = static_cast<std::uint8_t>(TempCode);
        if (ByteCount == 255) SaveCode();
        TempCode >>= 8;
        ShiftBits -= 8;
    }
}

void GifEncoder::SaveCode() {
    BlockBuf[0] = static_cast<std::uint8_t>(ByteCount);
    Put(BlockBuf.data(), static_cast<std::size_t>(ByteCount) + 1);
    ByteCount = 0;
}

void GifEncoder::Emit(int code) {
    Code = code;
    FillBlockBuf();
}

namespace {

void put16(std::uint8_t* at, int v) {
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}

} // namespace

void jcomp(const std::uint8_t* c256, int m1, int m2, std::vector<std::uint8_t>& out) {
    if (m1 < 1 || m2 < 1 || m1 > 65535 || m2 > 65535) return; // no GIF has such a side
    GifEncoder g(out);
    g.Width = m1;
    g.Height = m2;
    // Screen: a global table of 256 colours, 8 bits each, unsorted.
    std::uint8_t head1[13] = {'G', 'I', 'F', '8', '7', 'a', 0, 0, 0, 0, 0xF7, 0, 0};
    put16(head1 + 6, g.Width);
    put16(head1 + 8, g.Height);
    // Image at 0, 0, no local table, not interlaced; LZW minimum code size 8.
    std::uint8_t head2[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0x00, 8};
    put16(head2 + 4, g.Width);
    put16(head2 + 6, g.Height);
    g.Put(head1, sizeof head1);
    for (int i = 0; i < 256; ++i) {
        const std::uint8_t grey[3] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i),
                                      static_cast<std::uint8_t>(i)};
        g.Put(grey, 3);
    }
    g.Put(",", 1);
    g.Put(head2, sizeof head2);

    g.ClearTable();
    g.Emit(GifEncoder::ClearCode);
    std::vector<std::uint8_t> ByteBuf(static_cast<std::size_t>(g.Width));
    for (g.Rows = 0; g.Rows < g.Height; ++g.Rows) {
        // GIF row r is image row Height - 1 - r, read from its last column.
        const std::uint8_t* row = c256 + static_cast<long>(g.Height - 1 - g.Rows) * g.Width;
        for (int i = 0; i < g.Width; ++i) ByteBuf[i] = row[g.Width - 1 - i];
        g.Dots = 0;
        if (g.Rows == 0) g.PrefixCode = ByteBuf[g.Dots++];
        for (; g.Dots < g.Width; ++g.Dots) {
            g.SuffixCode = ByteBuf[g.Dots];
            g.RandomIndex = (g.SuffixCode << 4) ^ g.PrefixCode;
            g.Val = g.RandomIndex == 0 ? 1 : GifEncoder::TableSize - g.RandomIndex;
            while (g.EncodeTable[g.RandomIndex] != 0 &&
                   (g.PrefixTable[g.RandomIndex] != g.PrefixCode ||
                    g.SuffixTable[g.RandomIndex] != g.SuffixCode)) {
                g.RandomIndex -= g.Val;
                if (g.RandomIndex < 0) g.RandomIndex += GifEncoder::TableSize;
            }
            if (g.EncodeTable[g.RandomIndex] != 0) {
                g.PrefixCode = g.EncodeTable[g.RandomIndex];
                continue;
            }
            g.Emit(g.PrefixCode);
            if (g.Encode == 4096) {
                // Table full: start afresh; the clear code still goes out at 12 bits.
                g.Emit(GifEncoder::ClearCode);
                g.ClearTable();
            } else {
                // The code that takes the table past the width is still sent
                // at the old one; the decoder widens after it too.
                if (g.Encode == g.MaxCodeSize) {
                    g.MaxCodeSize *= 2;
                    ++g.RunBits;
                }
                g.PrefixTable[g.RandomIndex] = g.PrefixCode;
                g.SuffixTable[g.RandomIndex] = static_cast<std::uint8_t>(g.SuffixCode);
                g.EncodeTable[g.RandomIndex] = g.Encode++;
            }
            g.PrefixCode = g.SuffixCode;
        }
    }
    g.Emit(g.PrefixCode);
    g.Emit(GifEncoder::EndCode);
    if (g.ShiftBits > 0 || g.ByteCount > 0) {
        g.BlockBuf[++g.ByteCount] = static_cast<std::uint8_t>(g.TempCode);
        g.SaveCode();
    }
    const std::uint8_t trailer[2] = {0x00, ';'};
    g.Put(trailer, 2);
}

} // namespace pgc
