// The quick-look previews of one frame: ccdpeek for raw frames from the
// camera, fitpeek for FITS frames. Both run the same line of steps; what
// differs between them is one row of the table below.
#pragma once

#include "frames.h"
#include "system.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace peek {

enum class Input { raw, fits };

struct Build {
    const char* name;
    const char* example;   // the second usage line
    const char* flat_says; // said before the name of the flat file used
    Input input;
    std::array<int, 8> cards; // header cards listed in lastimage.txt
    int shrink_halvings;      // FITS previews are in quarter counts
};

inline constexpr Build ccdpeek_build{
    .name = "ccdpeek",
    .example = "\n\t Ex:   ccdpeek in(d*.ccd)      2008,12\n",
    .flat_says = "last?.jpg:  using ",
    .input = Input::raw,
    .cards = {51, 10, 19, 20, 3, 4, 36, 42},
    .shrink_halvings = 0,
};

inline constexpr Build fitpeek_build{
    .name = "fitpeek",
    .example = "\n\t Ex:   fitpeek in(d*.fit)     2008,12\n",
    .flat_says = "last?.gif using ",
    .input = Input::fits,
    .cards = {25, 13, 11, 12, 14, 15, 26, 31},
    .shrink_halvings = 1,
};

// ---- the steps, in the order the programs take them -------------------

// Loads the frame in preview units: raw frames row by row less their
// overscan, FITS frames (rows of their real length) with their BZERO.
pgc::Load load(const Build& b, const std::string& path, pgc::Frame& f);

// Large frames are divided by the flat field: ccdpeek judges by the row
// length with the overscan (NAXIS1), fitpeek by the frame's side.
bool wants_flat(const Build& b, const pgc::Frame& f);

// The filter letter in the beam, from exp.dat and the FILTER table; 0 when
// either is missing or the number is not in the table.
char color(qor::System& system);

// The flat for that filter, as a name under /u/tarnu/: flat and the letter
// when such a file can be read, else the default flatref.
std::string flatfile(qor::System& system);

// values[j] * scale / flat[j] for count pixels, cut to 0..32767. A flat
// pixel of 0 gives 32767 under a positive pixel and 0 under any other.
void do_flat(short* values, const short* flat, long count, double scale);

// Divides the frame by the flat field of the filter in the beam and levels
// the two detector halves; says which flat, and why none when it cannot.
void flat_field(qor::System& system, const Build& b, pgc::Frame& f);

// The 512 x 512 preview in preview units (block means).
std::vector<short> reduce(const Build& b, const pgc::Frame& f);

// lastimage.txt: the frame's path and its eight cards, nine lines.
std::string lastimage(const Build& b, const std::string& path, const pgc::Head& head);

// The grey previews: 512 x 512 and 256 x 256, one byte a pixel.
struct Grey {
    std::vector<std::uint8_t> big, small;
};
Grey grey_previews(std::vector<short> preview, const pgc::Frame& f);

// A grey preview as a GIF file's bytes.
std::vector<std::uint8_t> gif(const std::vector<std::uint8_t>& grey, int side);

// The whole program on its arguments (args[0] its name): usage, or the
// previews of the frame named first; nothing thrown past it. The frame is
// read by the image library itself; every other file, the console and
// convert go through the system.
using Args = std::vector<std::string>;
int run(qor::System& system, const Build& b, const Args& args);

int ccdpeek(qor::System& system, const Args& args);
int fitpeek(qor::System& system, const Args& args);

} // namespace peek
