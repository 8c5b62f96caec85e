// The flat-field step of the previews: which flat, and the division by it.
//
// A flat reference (written by flatbuild) holds s x s 16-bit pixels in host
// order, s = mm * 512, in preview units, then the flat's level F as a 4-byte
// float: the sum of the two centre strip levels, so F / 2 is their mean and
// the divided image keeps its level near the centre of the detector.
#include "peek.h"

#include "filters.h"
#include "reduce.h"
#include "site.h"
#include "text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace peek {

namespace {

// What fgets(line, 30, f) reads from text at: at most 29 characters, up to
// and with a line end; nothing at the end of the text.
std::optional<std::string_view> fgets_piece(std::string_view text, std::size_t& at) {
    if (at >= text.size()) return std::nullopt;
    std::size_t n = std::min<std::size_t>(29, text.size() - at);
    if (std::size_t nl = text.find('\n', at); nl < at + n) n = nl - at + 1;
    std::string_view piece = text.substr(at, n);
    at += n;
    return piece;
}

// The number of the filter in the beam: exp.dat's second line from its
// seventh character on; each line is read at most 29 characters at a time
// (a longer first line gives its second piece), as C text (to a NUL).
std::optional<int> filter_number(qor::System& sys) {
    auto text = sys.read_file(qor::tool_path("exp.dat"), 2 * 29);
    if (!text) return std::nullopt;
    std::size_t at = 0;
    auto line = fgets_piece(*text, at);
    if (line) line = fgets_piece(*text, at);
    if (!line) return std::nullopt;
    line = line->substr(0, line->find('\0'));
    if (line->size() <= 6) return std::nullopt;
    return qor::read_int(line->substr(6));
}

// Chunks of the flat divided in at a time.
constexpr long flat_chunk = 1 << 19;

std::string number_g(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", x);
    return text;
}

} // namespace

char color(qor::System& sys) {
    auto number = filter_number(sys);
    auto table = sys.read_file(qor::site_path("/u/tarnu/FILTER"));
    if (!number || !table) return 0;
    return qor::parse_filter_table(*table).letter_of(*number).value_or(0);
}

std::string flatfile(qor::System& sys) {
    const char letter = color(sys);
    if (letter == 0) return "flatref";
    const std::string name = std::string("flat") + letter;
    // A file whose first byte can be read: not a folder, not one we may not read.
    if (sys.read_file(qor::site_path("/u/tarnu/") + name, 1)) return name;
    return "flatref";
}

// Most of ccdpeek's time on a full frame: a build for wider vectors too.
__attribute__((target_clones("avx2", "default"))) void do_flat(short* values, const short* flat,
                                                               long count, double scale) {
    const float s = static_cast<float>(scale);
    for (long j = 0; j < count; ++j) {
        // v * s is exact in a double, and its quotient by a 16-bit value is
        // never within a double's rounding of a float's halfway point, so
        // rounding the double to a float gives the correctly rounded result.
        const float x = static_cast<float>(static_cast<double>(values[j]) * s / flat[j]);
        // NaN (0 / 0) fails the first test and counts as 0.
        const float y = x > 0.0f ? (x < 32767.0f ? x : 32767.0f) : 0.0f;
        values[j] = static_cast<short>(static_cast<int>(y));
    }
}

void flat_field(qor::System& sys, const Build& b, pgc::Frame& f) {
    const std::string name = flatfile(sys);
    sys.print(b.flat_says + name + "\n");
    const std::string path = qor::site_path("/u/tarnu/") + name;
    const std::string said = std::string(b.name) + ": the flat " + path;
    const long s = static_cast<long>(f.mm) * 512;
    const long pixels = s * s;
    const std::size_t size = 2 * pixels + 4;
    // Read no further than the flat of this frame reaches: a larger file is
    // only measured.
    const auto flat = sys.read_file(path, size + 1);
    if (!flat) {
        sys.print(std::string(b.name) + ": cannot read the flat " + path +
                  ", frame not flat-fielded\n");
    } else if (flat->size() != size || f.side != s) {
        // A file too large was read only in part: its size is asked for.
        std::uint64_t bytes = flat->size();
        if (auto info = bytes > size ? sys.stat(path) : std::nullopt) bytes = info->size;
        sys.print(said + " (" + std::to_string(bytes) + " bytes) is not for a frame of side " +
                  std::to_string(f.side) + ", frame not flat-fielded\n");
    } else {
        float level = 0;
        std::memcpy(&level, flat->data() + 2 * pixels, 4);
        // A level of 0 (or no number) would scale the whole frame to 0.
        if (std::isfinite(level) && level > 0) {
            std::vector<short> chunk(flat_chunk);
            for (long done = 0; done < pixels; done += flat_chunk) {
                const long n = std::min(flat_chunk, pixels - done);
                std::memcpy(chunk.data(), flat->data() + 2 * done, 2 * n);
                do_flat(f.pix.data() + done, chunk.data(), n, level / 2.0);
            }
        } else {
            sys.print(said + " has level " + number_g(level) +
                      ", no frame can be divided by it, frame not flat-fielded\n");
        }
    }
    // The halves are levelled on full frames only: the strips lie about the
    // centre line of the 4096-column detector.
    if (f.side == 4096) {
        std::vector<short> q(262144);
        pgc::balence(f.pix.data(), q.data());
    }
}

} // namespace peek
