// The flat-field reference: one flat exposure at half scale, host byte
// order, followed by its level near the centre of the detector, which is
// what the previews divide large frames by (ccdpeek's flat-field step).
#pragma once

#include "frames.h"
#include "system.h"

#include <string>
#include <vector>

namespace flat {

// Preview units of a flat: each of the first n1 * n2 pixels p becomes
// (z + p) >> 1, z the integer part of bzero; a result of 0 or less becomes
// 1, so the reference can always be divided by.
void de_f64(short* values, double bzero, int n1, int n2);

// The centre level of a side x side flat: the sum of the modes of two
// strips just left and right of the centre column (for a 4096 flat rows
// 1536..2559, columns 1792..2047 and 2048..2303; the same share of a smaller
// one). As the pixels were halved, the sum is on the scale of the raw flat.
int bal(const short* image, int side);

// The reference file's bytes for a flat loaded in file order: (mm*512)^2
// pixels, those beyond the frame's own set to 1, then the level as a float.
std::string reference(pgc::Frame& f, float& level);

// The whole program on its arguments (args[0] its name): usage, or the
// reference from the flat named first; nothing thrown past it. The flat is
// read by the image library itself, the reference written through the system.
using Args = std::vector<std::string>;
int flatbuild(qor::System& system, const Args& args);

} // namespace flat
