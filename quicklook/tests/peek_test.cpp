// ccdpeek and fitpeek: their steps, and the programs run in a simulated site
// on frames written here (raw) and by cfitsio (FITS). The previews are read
// back with ImageMagick's convert.
#include "helpers.h"
#include "peek.h"
#include "temp_site.h"

#include "files.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

using qor::test::TempSite;
namespace fs = std::filesystem;

namespace {

// A raw frame as the camera writes it: cards at their places, then rows of
// big-endian count - 32768, the image columns counts(r, c), then 32 overscan
// columns at the left half's bias (1000 counts) and 32 at the right one's
// (1200). Image columns carry the bias of their half.
std::string raw_frame(int side, const std::function<int(int, int)>& counts,
                      std::optional<int> naxis1 = {}, std::optional<int> naxis2 = {},
                      int coloff = 0) {
    const int n1 = naxis1.value_or(side + 64);
    std::string head(5760, ' ');
    auto card = [&](int j, const std::string& text) { head.replace(80 * j, text.size(), text); };
    card(0, "SIMPLE  =                    T");
    card(1, "BITPIX  =                   16");
    card(2, "NAXIS   =                    2");
    card(3, "NAXIS1  = " + std::string(20 - std::to_string(n1).size(), ' ') + std::to_string(n1));
    const int n2 = naxis2.value_or(side);
    card(4, "NAXIS2  = " + std::string(20 - std::to_string(n2).size(), ' ') + std::to_string(n2));
    card(5, "COLSTART= " + std::string(20 - std::to_string(coloff).size(), ' ') +
                std::to_string(coloff));
    card(10, "EXPTIME =                 30.0");
    card(19, "DATE-OBS= '2026-12-08'");
    card(20, "TIME-OBS= '19:44:56.0'");
    card(36, "CCDTEMP =               -110.7");
    card(42, "DETECTOR= 'sim4096 '");
    card(51, "OBJECT  = 'M42     '");
    card(52, "END");
    std::string d = head;
    d.reserve(5760 + 2L * n1 * side);
    auto put = [&](int count) {
        const auto s = static_cast<std::uint16_t>(count - 32768);
        d += {static_cast<char>(s >> 8), static_cast<char>(s)};
    };
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) put(counts(r, c) + (coloff + c >= 2048 ? 1200 : 1000));
        for (int c = side; c < n1; ++c) put(c - side < 32 ? 1000 : 1200);
    }
    return d;
}

int sky(int r, int c) {
    return 1600 + (r * 31 + c * 17) % 41;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t nl = text.find('\n', at);
        out.push_back(text.substr(at, nl - at));
        at = nl == std::string::npos ? text.size() : nl + 1;
    }
    return out;
}

class Peek : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(site.ok()) << site.error();
        old_cwd = fs::current_path();
        fs::create_directory(site.path("/work"));
        fs::current_path(site.path("/work")); // the GIFs land here
    }
    void TearDown() override { fs::current_path(old_cwd); }

    qor::Captured peek(const std::string& program, const std::string& frame) {
        return site.capture({site.tool(program), frame});
    }
    std::string status(const std::string& name) const {
        return site.path("/u/tarnu/status/" + name);
    }
    bool nothing_written() const {
        return fs::is_empty(site.path("/work")) && !qor::file_exists(status("lastimage.txt")) &&
               !qor::file_exists(status("last2.jpg"));
    }
    // A grey preview as ImageMagick decodes it.
    std::string decoded(const std::string& gif, std::size_t side) {
        return site.capture({"/usr/bin/convert", gif, "-depth", "8", "gray:-"}, side * side + 1)
            .out;
    }

    TempSite site;
    fs::path old_cwd;
};

} // namespace

TEST_F(Peek, UsageUnopenableAndImpossibleFramesWriteNothing) {
    for (const char* program : {"ccdpeek", "fitpeek"}) {
        auto r = site.capture({site.tool(program)});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, std::string("\n\n\t *** output GIF&txt (512*512) (256*256) ***\n") +
                             (program == std::string("ccdpeek")
                                  ? "\n\t Ex:   ccdpeek in(d*.ccd)      2008,12\n\n"
                                  : "\n\t Ex:   fitpeek in(d*.fit)     2008,12\n\n"));
        r = peek(program, site.path("/data/d404.ccd"));
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("cannot open"), std::string::npos) << r.out;
    }
    // Sizes beyond the fixed buffers, or none at all.
    const std::string f = site.path("/data/d1.ccd");
    for (auto [n1, n2] : {std::pair{4161, 4096}, {4224, 4097}, {576, 0}, {-5, 512}, {40, 512}}) {
        qor::replace_file(f, raw_frame(8, sky, n1, n2));
        auto r = peek("ccdpeek", f);
        EXPECT_EQ(r.status, 1) << n1 << " " << n2;
        EXPECT_NE(r.out.find("is no raw frame"), std::string::npos) << r.out;
    }
    qor::replace_file(f, raw_frame(512, sky).substr(0, 6000)); // a frame still being written
    EXPECT_EQ(peek("ccdpeek", f).status, 1);
    EXPECT_TRUE(nothing_written());
}

TEST_F(Peek, FramesCutShortOrWithoutBzeroStillGetPreviews) {
    const std::string f = site.path("/data/d2.ccd");
    qor::replace_file(f, raw_frame(512, sky).substr(0, 5760 + 2 * 576 * 100 + 7));
    auto r = peek("ccdpeek", f);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("frame ends after 100 of 512 rows"), std::string::npos) << r.out;
    const std::string shown = decoded("last2.gif", 512);
    ASSERT_EQ(shown.size(), 512u * 512);
    // The sky (turned by 180 degrees: the frame's first rows at the bottom).
    EXPECT_NEAR(static_cast<unsigned char>(shown[511 * 512 + 100]), 125, 30);
    EXPECT_EQ(static_cast<unsigned char>(shown[0]), 0);

    std::vector<short> v(512 * 512);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<short>(sky(i / 512, i % 512));
    pgctest::write_fits(site.path("/data/nobzero.fit"), 512, 512, SHORT_IMG, TSHORT, v.data());
    r = peek("fitpeek", site.path("/data/nobzero.fit"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("no BZERO card, 0 used"), std::string::npos) << r.out;
    EXPECT_TRUE(qor::file_exists(status("last1.jpg")));
}

TEST_F(Peek, LastImageHoldsThePathAndEightCards) {
    std::string frame = raw_frame(512, sky);
    frame.replace(10 * 80 + 40, 2, "\n\t"); // a damaged card
    qor::replace_file(site.path("/data/d3.ccd"), frame);
    auto r = peek("ccdpeek", "../data/d3.ccd");
    EXPECT_EQ(r.status, 0) << r.out;
    const auto text = qor::read_file(status("lastimage.txt"));
    ASSERT_TRUE(text);
    const auto l = lines(*text);
    ASSERT_EQ(l.size(), 9u);
    EXPECT_EQ(l[0], "../data/d3.ccd");
    EXPECT_EQ(l[1], frame.substr(51 * 80, 79));
    EXPECT_EQ(l[5], frame.substr(3 * 80, 79));
    EXPECT_EQ(l[6], frame.substr(4 * 80, 79));
    EXPECT_EQ(l[2].substr(40, 2), "  ");
    for (std::size_t i = 1; i < l.size(); ++i) EXPECT_EQ(l[i].size(), 79u);

    // fitpeek lists its own cards.
    pgc::Head head;
    for (int j = 0; j < 72; ++j) pgctest::card(std::to_string(j)).copy(head.data() + 80 * j, 80);
    const auto f = lines(peek::lastimage(peek::fitpeek_build, "x.fit", head));
    EXPECT_EQ(f[1].substr(0, 3), "25 ");
    EXPECT_EQ(f[8].substr(0, 3), "31 ");
}

TEST_F(Peek, AFailedWriteIsReportedAndItsPreviewNotPublished) {
    qor::replace_file(site.path("/data/d4.ccd"), raw_frame(512, sky));
    fs::remove(site.root() + "/bin/convert"); // a link to ImageMagick's: not to be written through
    ASSERT_TRUE(site.log_calls_to(site.root() + "/bin/convert"));
    fs::create_directories("last2.gif/in the way");
    auto r = peek("ccdpeek", site.path("/data/d4.ccd"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("cannot write last2.gif"), std::string::npos) << r.out;
    EXPECT_EQ(site.log_lines("convert"),
              std::vector<std::string>{"convert last1.gif " + status("last1.jpg")});
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 2);
}

TEST_F(Peek, FullFramesAreDividedByTheFlatOfTheFilterInTheBeam) {
    // Filter 3 in the beam, which the table calls R: flatR is used.
    qor::replace_file(site.tool("exp.dat"), "30\nfilt: 3\n");
    qor::replace_file(site.path("/u/tarnu/FILTER"), "B 1\nV 2\nR 3\n");
    // A flat whose response falls from the first row to the last, and a
    // frame of uniform sky seen through it: divided, the sky is uniform, and
    // once the halves are levelled (the left one reads 5 % higher) uniform
    // across the detector.
    auto response = [](int r) { return 1.5 - r / 4096.0; };
    std::string flat(2L * 4096 * 4096 + 4, '\0');
    for (long i = 0; i < 4096L * 4096; ++i) {
        const auto p = static_cast<short>(8000 * response(static_cast<int>(i / 4096)));
        std::memcpy(flat.data() + 2 * i, &p, 2);
    }
    const float level = 2 * 8000 * 1.0f; // the strips' mean response is 1
    std::memcpy(flat.data() + flat.size() - 4, &level, 4);
    qor::replace_file(site.path("/u/tarnu/flatR"), flat);
    qor::replace_file(site.path("/data/d5.ccd"), raw_frame(4096, [&](int r, int c) {
                          return static_cast<int>((c < 2048 ? 4200 : 4000) * response(r)) +
                                 (c + r) % 3;
                      }));
    auto r = peek("ccdpeek", site.path("/data/d5.ccd"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "last?.jpg:  using flatR\n");
    const std::string shown = decoded("last2.gif", 512);
    ASSERT_EQ(shown.size(), 512u * 512);
    for (std::size_t at : {0UL, 256UL * 512, 511UL * 512 + 511, 200UL * 512 + 300})
        EXPECT_NEAR(static_cast<unsigned char>(shown[at]), 125, 10) << at;
    EXPECT_GT(fs::file_size(status("last2.jpg")), 1000u);
    EXPECT_EQ(lines(*qor::read_file(status("lastimage.txt")))[5].substr(0, 30),
              "NAXIS1  =                 4160");

    // A flat of level 0 was read whole; it is refused for its level.
    std::memset(flat.data() + flat.size() - 4, 0, 4);
    qor::replace_file(site.path("/u/tarnu/flatR"), flat);
    r = peek("ccdpeek", site.path("/data/d5.ccd"));
    EXPECT_NE(r.out.find("flatR has level 0, no frame can be divided by it"), std::string::npos)
        << r.out;

    // A 2048 frame is not flat-fielded: no flat is named. Read out from
    // detector column 1024, its right half lies on the detector's right half
    // and loses that half's bias.
    qor::replace_file(site.path("/data/d6.ccd"), raw_frame(2048, sky, {}, {}, 1024));
    r = peek("ccdpeek", site.path("/data/d6.ccd"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    const std::string window = decoded("last2.gif", 512);
    ASSERT_EQ(window.size(), 512u * 512);
    for (std::size_t at : {256UL * 512 + 10, 256UL * 512 + 500})
        EXPECT_NEAR(static_cast<unsigned char>(window[at]), 125, 40) << at;
}

TEST_F(Peek, TheFlatNamedByExpDatAndTheFilterTable) {
    qor::RealSystem sys;
    qor::replace_file(site.tool("exp.dat"), "30\n      3 R filter\n");
    qor::replace_file(site.path("/u/tarnu/FILTER"), "B 1\nV 2\nR 3\n");
    EXPECT_EQ(peek::color(sys), 'R');
    EXPECT_EQ(peek::flatfile(sys), "flatref"); // no flatR
    qor::replace_file(site.path("/u/tarnu/flatR"), "x");
    EXPECT_EQ(peek::flatfile(sys), "flatR");

    // Only the first 30 entries count.
    std::string table;
    for (int i = 0; i < 40; ++i)
        table +=
            std::string(1, static_cast<char>('a' + i % 26)) + " " + std::to_string(10 + i) + "\n";
    table += "R 3\n";
    qor::replace_file(site.path("/u/tarnu/FILTER"), table);
    qor::replace_file(site.tool("exp.dat"), "30\n      39\n");
    EXPECT_EQ(peek::color(sys), 'd'); // entry 30
    qor::replace_file(site.tool("exp.dat"), "30\n      40\n");
    EXPECT_EQ(peek::color(sys), 0);
    EXPECT_EQ(peek::flatfile(sys), "flatref");
    fs::remove(site.path("/u/tarnu/FILTER"));
    qor::replace_file(site.tool("exp.dat"), "30\n      3\n");
    EXPECT_EQ(peek::color(sys), 0);
}

TEST(PeekSteps, FlatDivisionClampsAndZeroFlatPixels) {
    std::vector<short> v = {1000, 100, -5, 0, 30000, 999};
    const std::vector<short> flat = {1000, 0, 0, 0, 500, 1001};
    peek::do_flat(v.data(), flat.data(), 6, 2000.0);
    // 999 * 2000 / 1001 = 1996.004: cut toward zero.
    EXPECT_EQ(v, (std::vector<short>{2000, 32767, 0, 0, 32767, 1996}));
}

TEST(PeekSteps, FitpeekReadsRowsOfTheirRealLengthAndQuarterCounts) {
    pgctest::Scratch s;
    // 1024 x 512: rows of 1024, of which the first 512 form the image.
    std::vector<std::uint16_t> v(1024 * 512);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::uint16_t>(2 * (i / 1024) + (i % 1024 < 512 ? 40000 : 10000));
    pgctest::write_fits(s.path("w.fit"), 1024, 512, USHORT_IMG, TUSHORT, v.data());
    pgc::Frame f;
    ASSERT_EQ(peek::load(peek::fitpeek_build, s.path("w.fit"), f), pgc::Load::ok) << f.message;
    EXPECT_EQ(f.side, 512);
    for (int r : {0, 1, 300, 511}) EXPECT_EQ(f.pix[r * 512 + 7], 20000 + r) << r;
    EXPECT_EQ(peek::reduce(peek::fitpeek_build, f)[300 * 512], (20000 + 300) / 2);
    EXPECT_EQ(peek::reduce(peek::ccdpeek_build, f)[300 * 512], 20000 + 300);
}
