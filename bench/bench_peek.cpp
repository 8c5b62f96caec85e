// The quick-look of a full frame: ccdpeek on a 4160 x 4096 raw frame with a
// 4096 flat, against a plain read of the same two files in the same run;
// the whole program with both convert calls; its peak memory; and, as the
// tool an observer would otherwise use, ImageMagick on the same frame.
//
//   cmake --build build --target bench_peek && build/bench/bench_peek [runs]
#include "frame.h"
#include "timing.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

void write(const fs::path& p, const std::string& data) {
    std::ofstream(p, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
}

// A flat of 4096 x 4096 preview units with a gentle vignette, and its level.
std::string flat_reference() {
    std::string f(2L * 4096 * 4096 + 4, '\0');
    for (long i = 0; i < 4096L * 4096; ++i) {
        const long r = i / 4096 - 2048, c = i % 4096 - 2048;
        const auto p = static_cast<short>(8000 - (r * r + c * c) / 4096);
        std::memcpy(f.data() + 2 * i, &p, 2);
    }
    const float level = 16000;
    std::memcpy(f.data() + f.size() - 4, &level, 4);
    return f;
}

// Reads the whole file, as a program that only looks at its bytes would.
long read_all(const fs::path& p) {
    static std::vector<char> buf(1 << 20);
    const int fd = open(p.c_str(), O_RDONLY);
    long total = 0;
    for (ssize_t n; (n = read(fd, buf.data(), buf.size())) > 0;) total += n;
    close(fd);
    return total;
}

struct Run {
    double seconds = 0;
    long max_rss_kb = 0; // the largest of the program and the programs it ran
    int status = -1;
};

// Runs argv in dir with PATH=bin first and QOR_ROOT=root; waits for it.
Run run(const std::vector<std::string>& argv, const fs::path& dir, const fs::path& bin,
        const fs::path& root) {
    Run r;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        setenv("QOR_ROOT", root.c_str(), 1);
        setenv("PATH", (bin.string() + ":/usr/bin:/bin").c_str(), 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage self{};
    while (wait4(pid, &status, 0, &self) < 0 && errno == EINTR) {
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.max_rss_kb = self.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (runs < 1) runs = 1;

    std::string base = (fs::temp_directory_path() / "bench_peek.XXXXXX").string();
    if (mkdtemp(base.data()) == nullptr) return 1;
    const fs::path root = base, home = root / "u/tarnu", work = root / "work";
    for (const fs::path& d : {home / "status", home / "mokel", root / "data", work,
                              root / "bin-noop", root / "bin-real"})
        fs::create_directories(d);
    // Without exp.dat the default flat is used.
    write(home / "flatref", flat_reference());
    qor::sim::FrameInfo info;
    info.side = 4096;
    info.object = "M42";
    const std::string frame = qor::sim::make_frame(info);
    write(root / "data/d1.ccd", frame);
    // The same frame as a FITS file for ImageMagick: the raw header is a
    // FITS header; the data are padded to whole blocks.
    write(work / "frame.fit", frame + std::string((2880 - frame.size() % 2880) % 2880, '\0'));
    fs::create_symlink("/bin/true", root / "bin-noop/convert");
    fs::create_symlink("/usr/bin/convert", root / "bin-real/convert");

    const std::string ccdpeek = CCDPEEK;
    const std::vector<std::string> peek = {ccdpeek, (root / "data/d1.ccd").string()};
    const std::vector<std::string> magick = {"/usr/bin/convert", "frame.fit", "-resize", "512x512",
                                             "out.gif"};
    double plain = 1e30;
    Run own{.seconds = 1e30}, whole{.seconds = 1e30}, im{.seconds = 1e30};
    long own_rss = 0, whole_rss = 0, im_rss = 0;
    long bytes = 0;
    for (int i = 0; i < runs; ++i) { // interleaved: all see the same machine
        plain = std::min(plain, bench::seconds([&] {
                             bytes = read_all(root / "data/d1.ccd") + read_all(home / "flatref");
                         }));
        Run r = run(peek, work, root / "bin-noop", root);
        if (r.status != 0) std::printf("ccdpeek ended with %d\n", r.status);
        own.seconds = std::min(own.seconds, r.seconds);
        own_rss = std::max(own_rss, r.max_rss_kb);
        r = run(peek, work, root / "bin-real", root);
        whole.seconds = std::min(whole.seconds, r.seconds);
        whole_rss = std::max(whole_rss, r.max_rss_kb);
        r = run(magick, work, root / "bin-real", root);
        if (r.status != 0) std::printf("ImageMagick ended with %d\n", r.status);
        im.seconds = std::min(im.seconds, r.seconds);
        im_rss = std::max(im_rss, r.max_rss_kb);
    }

    std::printf("ccdpeek on a 4160 x 4096 raw frame with a 4096 flat, best of %d runs\n", runs);
    std::printf("  plain read of frame and flat (%ld MB): %8.1f ms\n", bytes >> 20, plain * 1e3);
    std::printf("  ccdpeek, convert a no-op:            %8.1f ms  ratio %.2f  peak %ld MB\n",
                own.seconds * 1e3, own.seconds / plain, own_rss >> 10);
    std::printf("  ccdpeek with both convert calls:     %8.1f ms  ratio %.2f  peak %ld MB\n",
                whole.seconds * 1e3, whole.seconds / plain, whole_rss >> 10);
    std::printf("  ImageMagick convert -resize 512x512: %8.1f ms  peak %ld MB\n", im.seconds * 1e3,
                im_rss >> 10);
    std::printf("  ImageMagick / whole ccdpeek:         %8.1f\n", im.seconds / whole.seconds);
    fs::remove_all(root);
    return 0;
}
