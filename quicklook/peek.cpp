// The line of steps from a frame file to the published previews.
#include "peek.h"

#include "gif.h"
#include "guarded.h"
#include "reduce.h"
#include "site.h"

#include <algorithm>
#include <string>

namespace peek {

pgc::Load load(const Build& b, const std::string& path, pgc::Frame& f) {
    if (b.input == Input::raw) return pgc::load_raw(path, f, pgc::baseline);
    const pgc::Load r = pgc::load_fits(path, f, pgc::Rows::naxis1_rows);
    if (r == pgc::Load::ok) de_f64(f.pix.data(), f.bzero, f.side, f.side);
    return r;
}

bool wants_flat(const Build& b, const pgc::Frame& f) {
    return (b.input == Input::raw ? f.n1 : f.side) > 4000;
}

std::vector<short> reduce(const Build& b, const pgc::Frame& f) {
    std::vector<short> preview(pgc::preview_side * pgc::preview_side);
    const int divisor = (f.mm * f.mm) << b.shrink_halvings;
    pgc::shrink2(f.pix.data(), f.side, f.mm, divisor, preview.data());
    return preview;
}

std::string lastimage(const Build& b, const std::string& path, const pgc::Head& head) {
    std::string text = path + "\n";
    for (int j : b.cards) {
        // A card is text; a control byte in a damaged one must not break the
        // file's nine lines.
        std::string card(head.data() + 80 * j, 79);
        std::replace_if(
            card.begin(), card.end(), [](char c) { return (c >= 0 && c < ' ') || c == 0x7F; }, ' ');
        text += card + "\n";
    }
    return text;
}

Grey grey_previews(std::vector<short> preview, const pgc::Frame& f) {
    Grey g{std::vector<std::uint8_t>(preview.size()),
           std::vector<std::uint8_t>(pgc::small_side * pgc::small_side)};
    pgc::comp4(preview.data(), f.side, g.big.data(), static_cast<int>(f.side - f.missing_rows));
    pgc::shrink256(g.big.data(), g.small.data());
    return g;
}

std::vector<std::uint8_t> gif(const std::vector<std::uint8_t>& grey, int side) {
    std::vector<std::uint8_t> bytes;
    pgc::jcomp(grey.data(), side, side, bytes);
    return bytes;
}

namespace {

int usage(qor::System& sys, const Build& b) {
    sys.print("\n\n\t *** output GIF&txt (512*512) (256*256) ***\n" + std::string(b.example) +
              "\n");
    return 0;
}

bool write(qor::System& sys, const Build& b, const std::string& path, std::string_view bytes) {
    const qor::Done d = sys.replace_file(path, bytes);
    if (!d) sys.print(std::string(b.name) + ": cannot write " + path + ": " + d.why() + "\n");
    return static_cast<bool>(d);
}

bool write_gif(qor::System& sys, const Build& b, const std::string& path,
               const std::vector<std::uint8_t>& bytes) {
    return write(sys, b, path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

// The JPEG copy for the status page, made by ImageMagick's convert. A GIF
// that could not be written is not converted: its old copy would pass for
// this frame's.
int publish(qor::System& sys, bool written, const std::string& name) {
    if (!written) return 1;
    return sys.run({"convert", name + ".gif", qor::site_path("/u/tarnu/status/" + name + ".jpg")});
}

} // namespace

int run(qor::System& sys, const Build& b, const Args& args) {
    return qor::guarded(sys, b.name, [&] {
        if (args.size() < 2) return usage(sys, b);
        const std::string& path = args[1];

        pgc::Frame frame;
        const pgc::Load loaded = load(b, path, frame);
        if (!frame.message.empty()) sys.print(std::string(b.name) + ": " + frame.message + "\n");
        if (loaded == pgc::Load::cannot_open) return 0;
        if (loaded != pgc::Load::ok) return 1;

        if (wants_flat(b, frame)) flat_field(sys, b, frame);
        std::vector<short> preview = reduce(b, frame);
        frame.pix = {}; // the full frame is done with
        const bool text = write(sys, b, qor::site_path("/u/tarnu/status/lastimage.txt"),
                                lastimage(b, path, frame.head));
        const Grey grey = grey_previews(std::move(preview), frame);
        const bool big = write_gif(sys, b, "last2.gif", gif(grey.big, pgc::preview_side));
        const bool small = write_gif(sys, b, "last1.gif", gif(grey.small, pgc::small_side));
        publish(sys, small, "last1");
        const int status = publish(sys, big, "last2");
        return text && big && small ? status : 1;
    });
}

int ccdpeek(qor::System& sys, const Args& args) {
    return run(sys, ccdpeek_build, args);
}

int fitpeek(qor::System& sys, const Args& args) {
    return run(sys, fitpeek_build, args);
}

} // namespace peek
