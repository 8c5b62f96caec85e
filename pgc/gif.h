// The grey previews as GIF87a files: one image, a 256-entry grey colour
// table, no interlace, no extensions, LZW codes running on across rows.
#pragma once

#include <cstdint>
#include <vector>

namespace pgc {

// Appends the GIF of the m1 x m2 grey image c256 (one byte a pixel,
// row-major) to out. The GIF shows the image turned by 180 degrees: its
// top-left pixel is the last of c256.
void jcomp(const std::uint8_t* c256, int m1, int m2, std::vector<std::uint8_t>& out);

} // namespace pgc
