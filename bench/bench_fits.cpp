// The FITS copy of a full frame: a 4160 x 4096 raw frame of the simulated
// camera converted by the archive's own step (inspection, record, cfitsio in
// memory, the whole-file write), against a plain read of the raw frame and a
// write of the same bytes through the same whole-file write, in one run.
//
//   cmake --build build --target bench_fits && build/bench/bench_fits [runs]
#include "convert.h"
#include "files.h"
#include "frame.h"
#include "frame_record.h"
#include "timing.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (runs < 1) runs = 1;
    std::string base = (fs::temp_directory_path() / "bench_fits.XXXXXX").string();
    if (mkdtemp(base.data()) == nullptr) return 1;
    const fs::path root = base;
    const std::string raw = (root / "d1.ccd").string(), plain_copy = (root / "plain.bin").string();

    qor::sim::FrameInfo info;
    info.side = 4096;
    info.obsnum = 1;
    info.object = "M42";
    if (!qor::replace_file(raw, qor::sim::make_frame(info))) return 1;

    qor::RealSystem host;
    qarch::Options options;
    options.settle = 0; // the frame was just written; nothing else writes it
    double plain = 1e30, copy = 1e30;
    long long bytes = 0;
    for (int i = 0; i < runs; ++i) { // interleaved: both see the same machine
        plain = std::min(plain, bench::seconds([&] {
                             auto data = qor::read_file(raw);
                             bytes = data ? static_cast<long long>(data->size()) : 0;
                             if (!data || !qor::replace_file(plain_copy, *data))
                                 std::printf("plain copy failed\n");
                         }));
        copy = std::min(copy, bench::seconds([&] {
                            auto o = qarch::convert_frame(host, raw, options);
                            if (o.result != qarch::Result::converted)
                                std::printf("conversion: %s\n",
                                            o.messages.empty() ? "?" : o.messages[0].c_str());
                        }));
    }
    auto fits = qor::real::stat((root / "fits/d1.fits").string());
    std::printf("FITS copy of a 4160 x 4096 raw frame, best of %d runs\n", runs);
    std::printf("  plain read and write of the raw frame (%lld MB): %8.1f ms\n", bytes >> 20,
                plain * 1e3);
    std::printf("  FITS copy (%lld MB):                          %8.1f ms  ratio %.2f\n",
                fits ? static_cast<long long>(fits->size >> 20) : 0LL, copy * 1e3, copy / plain);
    fs::remove_all(root);
    return 0;
}
