// ccdpeek and fitpeek on a fake host: the frame is a real file the image
// library reads; the flat, exp.dat, FILTER, the previews, lastimage.txt and
// the runs of convert are the fake's.
#include "fake_system.h"
#include "helpers.h"
#include "peek.h"
#include "raw_frame.h"
#include "site.h"
#include "text.h"

#include <cstring>
#include <gtest/gtest.h>

using peektest::raw_frame;
using peektest::sky;
using qor::Argv;
using qor::test::Fault;

namespace {

const std::string status_dir = "/u/tarnu/status/";

struct Quicklook : ::testing::Test {
    qor::test::FakeSystem sys;
    pgctest::Scratch scratch; // the frames, which the image library opens itself

    void SetUp() override { unsetenv("QOR_ROOT"); }

    std::string frame_file(const std::string& name, const std::string& bytes) {
        pgctest::spit(scratch.path(name), bytes);
        return scratch.path(name);
    }
    // Whether the program wrote or ran anything.
    bool nothing_done() const {
        for (const auto& entry : sys.file_log)
            if (entry.rfind("read ", 0) != 0) return false;
        return sys.runs.empty();
    }
};

// A flat reference for a frame of side s: every pixel p, then the level.
std::string flat_of(long s, short p, float level) {
    std::string flat(2 * s * s + 4, '\0');
    for (long i = 0; i < s * s; ++i) std::memcpy(flat.data() + 2 * i, &p, 2);
    std::memcpy(flat.data() + 2 * s * s, &level, 4);
    return flat;
}

// A frame of side 512 in memory, every pixel 1000.
pgc::Frame frame_512() {
    pgc::Frame f;
    f.side = 512;
    f.mm = 1;
    f.pix.assign(512 * 512, 1000);
    return f;
}

} // namespace

TEST_F(Quicklook, UsageUnopenableAndImpossibleFramesWriteNothing) {
    EXPECT_EQ(peek::ccdpeek(sys, {"ccdpeek"}), 0);
    EXPECT_EQ(peek::fitpeek(sys, {"fitpeek"}), 0);
    EXPECT_EQ(sys.out, "\n\n\t *** output GIF&txt (512*512) (256*256) ***\n"
                       "\n\t Ex:   ccdpeek in(d*.ccd)      2008,12\n\n"
                       "\n\n\t *** output GIF&txt (512*512) (256*256) ***\n"
                       "\n\t Ex:   fitpeek in(d*.fit)     2008,12\n\n");
    for (auto* program : {peek::ccdpeek, peek::fitpeek}) {
        sys.out.clear();
        EXPECT_EQ(program(sys, {"peek", scratch.path("d404.ccd")}), 0);
        EXPECT_NE(sys.out.find("cannot open"), std::string::npos) << sys.out;
    }
    // Sizes beyond the fixed buffers, or none at all.
    for (auto [n1, n2] : {std::pair{4161, 4096}, {4224, 4097}, {576, 0}, {-5, 512}, {40, 512}}) {
        sys.out.clear();
        const std::string f = frame_file("d1.ccd", raw_frame(8, sky, n1, n2));
        EXPECT_EQ(peek::ccdpeek(sys, {"ccdpeek", f}), 1) << n1 << " " << n2;
        EXPECT_NE(sys.out.find("is no raw frame"), std::string::npos) << sys.out;
    }
    // A frame still being written.
    const std::string f = frame_file("d1.ccd", raw_frame(512, sky).substr(0, 6000));
    EXPECT_EQ(peek::ccdpeek(sys, {"ccdpeek", f}), 1);
    EXPECT_TRUE(nothing_done());
}

TEST_F(Quicklook, ThePreviewsLastImageAndTheirJpegCopies) {
    std::string bytes = raw_frame(512, sky);
    bytes.replace(10 * 80 + 40, 2, "\n\t"); // a damaged card
    const std::string frame = frame_file("d3.ccd", bytes);
    sys.programs["convert"] = [](const Argv& a) { return qor::Captured{"", a[1] == "last2.gif"}; };
    EXPECT_EQ(peek::ccdpeek(sys, {"ccdpeek", frame}), 1); // convert's status for last2
    EXPECT_EQ(sys.out, "");
    EXPECT_EQ(sys.runs, (std::vector<Argv>{{"convert", "last1.gif", status_dir + "last1.jpg"},
                                           {"convert", "last2.gif", status_dir + "last2.jpg"}}));
    EXPECT_EQ(sys.file("last1.gif").substr(0, 3), "GIF");
    EXPECT_EQ(sys.file("last2.gif").substr(0, 3), "GIF");

    const auto l = qor::lines_of(sys.file(status_dir + "lastimage.txt"));
    ASSERT_EQ(l.size(), 9u);
    EXPECT_EQ(l[0], frame);
    EXPECT_EQ(l[1], bytes.substr(51 * 80, 79));
    EXPECT_EQ(l[5], bytes.substr(3 * 80, 79));
    EXPECT_EQ(l[6], bytes.substr(4 * 80, 79));
    EXPECT_EQ(l[2].substr(40, 2), "  ");
    for (std::size_t i = 1; i < l.size(); ++i) EXPECT_EQ(l[i].size(), 79u);

    // fitpeek lists its own cards.
    pgc::Head head;
    for (int j = 0; j < 72; ++j) pgctest::card(std::to_string(j)).copy(head.data() + 80 * j, 80);
    const auto f = qor::lines_of(peek::lastimage(peek::fitpeek_build, "x.fit", head));
    EXPECT_EQ(f[1].substr(0, 3), "25 ");
    EXPECT_EQ(f[8].substr(0, 3), "31 ");
}

TEST_F(Quicklook, AFailedWriteSaysWhyAndItsPreviewIsNotPublished) {
    const std::string frame = frame_file("d4.ccd", raw_frame(512, sky));
    sys.put("last2.gif", "the last frame's");
    sys.fail("write", "last2.gif", Fault::no_space);
    EXPECT_EQ(peek::ccdpeek(sys, {"ccdpeek", frame}), 1);
    EXPECT_EQ(sys.out, "ccdpeek: cannot write last2.gif: No space left on device\n");
    EXPECT_EQ(sys.runs, (std::vector<Argv>{{"convert", "last1.gif", status_dir + "last1.jpg"}}));
    EXPECT_EQ(sys.file("last2.gif"), "the last frame's");

    sys.failures.clear();
    sys.runs.clear();
    sys.out.clear();
    sys.fail("write", status_dir + "lastimage.txt", Fault::io_error);
    EXPECT_EQ(peek::ccdpeek(sys, {"ccdpeek", frame}), 1);
    EXPECT_EQ(sys.out,
              "ccdpeek: cannot write " + status_dir + "lastimage.txt: Input/output error\n");
    EXPECT_EQ(sys.runs.size(), 2u); // the previews are this frame's all the same
}

TEST_F(Quicklook, TheFlatNamedByExpDatAndTheFilterTable) {
    const std::string exp_dat = qor::tool_path("exp.dat");
    sys.put(exp_dat, "30\n      3 R filter\n");
    sys.put("/u/tarnu/FILTER", "B 1\nV 2\nR 3\n");
    EXPECT_EQ(peek::color(sys), 'R');
    EXPECT_EQ(peek::flatfile(sys), "flatref"); // no flatR
    sys.put("/u/tarnu/flatR/x", "a folder");
    EXPECT_EQ(peek::flatfile(sys), "flatref");
    sys.files.erase("/u/tarnu/flatR/x");
    sys.put("/u/tarnu/flatR", "x");
    EXPECT_EQ(peek::flatfile(sys), "flatR");

    // Lines are read 29 characters at a time: a long first line's second
    // piece stands for the second line; a NUL ends a line.
    sys.put(exp_dat, std::string(29, '3') + "      2\n      3\n");
    EXPECT_EQ(peek::color(sys), 'V');
    sys.put(exp_dat, std::string("30\n     \0 3\n", 12));
    EXPECT_EQ(peek::color(sys), 0);
    sys.put(exp_dat, "30\n");
    EXPECT_EQ(peek::color(sys), 0);

    // Only the first 30 entries count.
    std::string table;
    for (int i = 0; i < 40; ++i)
        table +=
            std::string(1, static_cast<char>('a' + i % 26)) + " " + std::to_string(10 + i) + "\n";
    sys.put("/u/tarnu/FILTER", table + "R 3\n");
    sys.put(exp_dat, "30\n      39\n");
    EXPECT_EQ(peek::color(sys), 'd'); // entry 30
    sys.put(exp_dat, "30\n      40\n");
    EXPECT_EQ(peek::color(sys), 0);
    EXPECT_EQ(peek::flatfile(sys), "flatref");
    sys.files.erase("/u/tarnu/FILTER");
    sys.put(exp_dat, "30\n      3\n");
    EXPECT_EQ(peek::color(sys), 0);
}

TEST_F(Quicklook, TheFlatDividesOnlyAFrameItFitsAndSaysWhyNot) {
    const std::string ref = "/u/tarnu/flatref";
    const std::string said = "ccdpeek: the flat " + ref;
    struct Case {
        std::optional<std::string> flat;
        int side;
        std::string says; // after the line naming the flat
        short pixel;      // a pixel of the frame afterwards
    };
    const long s = 512;
    const std::string good = flat_of(s, 500, 2 * 400.0f); // 1000 * 400 / 500
    const std::vector<Case> cases{
        {std::nullopt, 512, "ccdpeek: cannot read the flat " + ref + ", frame not flat-fielded\n",
         1000},
        {good.substr(0, 100), 512,
         said + " (100 bytes) is not for a frame of side 512, frame not flat-fielded\n", 1000},
        {good, 500,
         said + " (524292 bytes) is not for a frame of side 500, frame not flat-fielded\n", 1000},
        {flat_of(s, 500, 0), 512,
         said + " has level 0, no frame can be divided by it, frame not flat-fielded\n", 1000},
        {good, 512, "", 800},
    };
    for (const auto& c : cases) {
        sys.out.clear();
        sys.files.erase(ref);
        if (c.flat) sys.put(ref, *c.flat);
        pgc::Frame f = frame_512();
        f.side = c.side;
        peek::flat_field(sys, peek::ccdpeek_build, f);
        EXPECT_EQ(sys.out, "last?.jpg:  using flatref\n" + c.says);
        EXPECT_EQ(f.pix[1000], c.pixel) << c.says;
    }
    sys.out.clear();
    pgc::Frame f = frame_512();
    peek::flat_field(sys, peek::fitpeek_build, f);
    EXPECT_EQ(sys.out, "last?.gif using flatref\n");
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
