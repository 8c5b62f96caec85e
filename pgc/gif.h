// The grey previews as GIF87a files: one image, a 256-entry grey colour
// table, no interlace, no extensions, LZW codes running on across rows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pgc {

// The encoder's state for one image; every byte it makes goes through Put
// into the caller's buffer.
struct GifEncoder {
    static constexpr int TableSize = 4999; // a prime: the probe visits every slot
    static constexpr int ClearCode = 256;
    static constexpr int EndCode = 257;

    std::vector<std::uint8_t>& out;
    int Width = 0, Height = 0;
    std::array<std::uint8_t, 256> BlockBuf{}; // [0] the sub-block's length
    int ByteCount = 0;
    std::uint32_t TempCode = 0; // bits not yet written, least significant first
    int ShiftBits = 0;
    int Code = 0;
    int RunBits = 9, MaxCodeSize = 512;
    int Encode = 258; // next free string code
    std::array<int, TableSize> PrefixTable{};
    std::array<std::uint8_t, TableSize> SuffixTable{};
    std::array<int, TableSize> EncodeTable{}; // 0: a free slot
    int PrefixCode = 0, SuffixCode = 0;
    int RandomIndex = 0, Val = 0;
    int Rows = 0, Dots = 0;

    explicit GifEncoder(std::vector<std::uint8_t>& to) : out(to) {}

    void Put(const void* bytes, std::size_t n);
    void ClearTable();
    void FillBlockBuf(); // emits Code at the current width
    void SaveCode();     // writes the current sub-block
    void Emit(int code);
};

// Appends the GIF of the m1 x m2 grey image c256 (one byte a pixel,
// row-major) to out. The GIF shows the image turned by 180 degrees: its
// top-left pixel is the last of c256.
void jcomp(const std::uint8_t* c256, int m1, int m2, std::vector<std::uint8_t>& out);

} // namespace pgc
