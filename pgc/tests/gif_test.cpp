// The GIF encoder: its exact bytes for blank previews, and images that fill
// the string table decoded by two independent decoders (giflib in process,
// ImageMagick's convert as a program).
#include "gif.h"
#include "helpers.h"
#include "run.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <random>
#include <tuple>
#include <vector>

using namespace pgctest;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::size_t code_stream_at = 13 + 768 + 1 + 10;

Bytes encode(const Bytes& image, int side) {
    Bytes out;
    pgc::jcomp(image.data(), side, side, out);
    return out;
}

// The image as a viewer shows the GIF: turned by 180 degrees.
Bytes turned(const Bytes& image) {
    return Bytes(image.rbegin(), image.rend());
}

Bytes giflib_pixels(const Bytes& gif, int& width, int& height) {
    struct Source {
        const Bytes* data;
        std::size_t at;
    } source{&gif, 0};
    auto read = [](GifFileType* f, GifByteType* to, int n) -> int {
        auto* s = static_cast<Source*>(f->UserData);
        const std::size_t k = std::min<std::size_t>(n, s->data->size() - s->at);
        std::copy_n(s->data->data() + s->at, k, to);
        s->at += k;
        return static_cast<int>(k);
    };
    int error = 0;
    GifFileType* f = DGifOpen(&source, read, &error);
    if (f == nullptr || DGifSlurp(f) != GIF_OK || f->ImageCount != 1) {
        if (f) DGifCloseFile(f, &error);
        return {};
    }
    width = f->SavedImages[0].ImageDesc.Width;
    height = f->SavedImages[0].ImageDesc.Height;
    const ColorMapObject* map = f->SColorMap;
    Bytes grey;
    for (int i = 0; i < width * height; ++i) {
        const GifColorType c = map->Colors[f->SavedImages[0].RasterBits[i]];
        grey.push_back(c.Red == c.Green && c.Green == c.Blue ? c.Red : 0);
    }
    DGifCloseFile(f, &error);
    return grey;
}

// FNV-1a over the bytes: a change anywhere in a long code stream changes it.
std::uint64_t digest(const Bytes& bytes) {
    std::uint64_t h = 0xcbf29ce484222325u;
    for (std::uint8_t b : bytes) h = (h ^ b) * 0x100000001b3u;
    return h;
}

Bytes imagemagick_pixels(const Scratch& s, const Bytes& gif, int side) {
    spit(s.path("p.gif"), std::string(gif.begin(), gif.end()));
    auto r = qor::run_capture({"/usr/bin/convert", s.path("p.gif"), "-depth", "8", "gray:-"},
                              static_cast<std::size_t>(side) * side + 1);
    return r.status == 0 ? Bytes(r.out.begin(), r.out.end()) : Bytes{};
}

} // namespace

TEST(Gif, BlankPreviewsHaveTheirExactBytes) {
    const Bytes gif = encode(Bytes(256 * 256, 0), 256);
    ASSERT_EQ(gif.size(), 1220u);
    EXPECT_EQ(Bytes(gif.begin(), gif.begin() + 13),
              (Bytes{'G', 'I', 'F', '8', '7', 'a', 0, 1, 0, 1, 0xF7, 0, 0}));
    // Two sub-blocks of 255 and 169 bytes.
    EXPECT_EQ(gif[code_stream_at], 255);
    EXPECT_EQ(Bytes(gif.begin() + code_stream_at + 1, gif.begin() + code_stream_at + 8),
              (Bytes{0x00, 0x01, 0x08, 0x1C, 0x48, 0xB0, 0xA0}));
    EXPECT_EQ(gif[code_stream_at + 256], 169);
    EXPECT_EQ(Bytes(gif.end() - 4, gif.end()), (Bytes{0x40, 0x00, 0x00, 0x3B}));

    EXPECT_EQ(encode(Bytes(512 * 512, 0), 512).size(), 1674u);
}

TEST(Gif, ImagesThatFillTheStringTableDecodeTurnedBy180Degrees) {
    Scratch s;
    std::mt19937 gen(3);
    for (int side : {512, 256}) {
        Bytes image(static_cast<std::size_t>(side) * side);
        for (auto& p : image) p = static_cast<std::uint8_t>(gen());
        // A stretch of repeats too, so that long strings are built and used.
        std::fill(image.begin() + 1000, image.begin() + 30000, 77);
        const Bytes gif = encode(image, side);
        int w = 0, h = 0;
        EXPECT_EQ(giflib_pixels(gif, w, h), turned(image)) << side;
        EXPECT_EQ(w * 10000 + h, side * 10001);
        EXPECT_EQ(imagemagick_pixels(s, gif, side), turned(image)) << side;
    }
}

// The decoders above accept any valid stream; these pin the stream itself
// (where the clear codes fall, when codes widen, how the last byte is
// padded) for images that fill the table, so a rework of the encoder must
// reproduce it bit for bit.
TEST(Gif, ImagesThatFillTheStringTableKeepTheirExactBytes) {
    std::mt19937 gen(3);
    for (auto [side, size, hash] :
         {std::tuple{512, 321576u, std::uint64_t{5574602853407558329u}},
          std::tuple{256, 51239u, std::uint64_t{16107087665181309853u}}}) {
        Bytes image(static_cast<std::size_t>(side) * side);
        for (auto& p : image) p = static_cast<std::uint8_t>(gen());
        std::fill(image.begin() + 1000, image.begin() + 30000, 77);
        const Bytes gif = encode(image, side);
        EXPECT_EQ(gif.size(), size) << side;
        EXPECT_EQ(digest(gif), hash) << side;
    }
}
