// The flat-field step of the previews: which flat, and the division by it.
//
// A flat reference (written by flatbuild) holds s x s 16-bit pixels in host
// order, s = mm * 512, in preview units, then the flat's level F as a 4-byte
// float: the sum of the two centre strip levels, so F / 2 is their mean and
// the divided image keeps its level near the centre of the detector.
#include "peek.h"

#include "files.h"
#include "filters.h"
#include "reduce.h"
#include "site.h"
#include "text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace peek {

namespace {

struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, Closer>;

File open(const std::string& path, const char* mode) {
    return File(std::fopen(path.c_str(), mode));
}

// The number of the filter in the beam: exp.dat's second line from its
// seventh character on; each line is read at most 29 characters at a time.
std::optional<int> filter_number() {
    File f = open(qor::tool_path("exp.dat"), "r");
    if (!f) return std::nullopt;
    char line[30] = "";
    if (!std::fgets(line, sizeof line, f.get()) || !std::fgets(line, sizeof line, f.get()))
        return std::nullopt;
    if (std::strlen(line) <= 6) return std::nullopt;
    return qor::read_int(line + 6);
}

// Chunks of the flat read at a time: it is divided in as it comes.
constexpr long flat_chunk = 1 << 19;

} // namespace

char color() {
    auto number = filter_number();
    auto table = qor::read_file(qor::site_path("/u/tarnu/FILTER"));
    if (!number || !table) return 0;
    return qor::parse_filter_table(*table).letter_of(*number).value_or(0);
}

std::string flatfile() {
    const char letter = color();
    if (letter == 0) return "flatref";
    const std::string name = std::string("flat") + letter;
    struct stat st {};
    const std::string path = qor::site_path("/u/tarnu/") + name;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && open(path, "rb")) return name;
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

void flat_field(const Build& b, pgc::Frame& f) {
    const std::string name = flatfile();
    std::printf(b.flat_message, name.c_str());
    const std::string path = qor::site_path("/u/tarnu/") + name;
    const long s = static_cast<long>(f.mm) * 512;
    const long pixels = s * s;
    File file = open(path, "rb");
    struct stat st {};
    if (!file || fstat(fileno(file.get()), &st) != 0) {
        std::printf("%s: cannot read the flat %s, frame not flat-fielded\n", b.name, path.c_str());
    } else if (st.st_size != 2 * pixels + 4 || f.side != s) {
        std::printf("%s: the flat %s (%lld bytes) is not for a frame of side %d, frame not "
                    "flat-fielded\n",
                    b.name, path.c_str(), static_cast<long long>(st.st_size), f.side);
    } else {
        float level = 0;
        std::vector<short> chunk(flat_chunk);
        bool whole = std::fseek(file.get(), 2 * pixels, SEEK_SET) == 0 &&
                     std::fread(&level, 4, 1, file.get()) == 1 &&
                     std::fseek(file.get(), 0, SEEK_SET) == 0;
        // A level of 0 (or no number) would scale the whole frame to 0.
        const bool usable = whole && std::isfinite(level) && level > 0;
        for (long done = 0; usable && whole && done < pixels; done += flat_chunk) {
            const long n = std::min(flat_chunk, pixels - done);
            whole = std::fread(chunk.data(), 2, n, file.get()) == static_cast<std::size_t>(n);
            if (whole) do_flat(f.pix.data() + done, chunk.data(), n, level / 2.0);
        }
        if (!whole)
            std::printf("%s: the flat %s could not be read whole, frame not flat-fielded\n", b.name,
                        path.c_str());
        else if (!usable)
            std::printf("%s: the flat %s has level %g, no frame can be divided by it, frame not "
                        "flat-fielded\n",
                        b.name, path.c_str(), static_cast<double>(level));
    }
    // The halves are levelled on full frames only: the strips lie about the
    // centre line of the 4096-column detector.
    if (f.side == 4096) {
        std::vector<short> q(262144);
        pgc::balence(f.pix.data(), q.data());
    }
}

} // namespace peek
