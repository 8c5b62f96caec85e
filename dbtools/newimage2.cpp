// newimage2 obsnum: makes the quick-look previews of a new frame.
#include "files.h"
#include "run.h"
#include "site.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

// ccd2fits waits for a frame still being written (60 s at most), then copies it.
constexpr double fits_limit = 120;

// The whole argument must be a number: it becomes part of a file name.
std::optional<int> whole_number(const char* text) {
    if (*text == '\0') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    long n = std::strtol(text, &end, 10);
    if (*end != '\0' || errno != 0 || n < INT_MIN || n > INT_MAX) return std::nullopt;
    return static_cast<int>(n);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("\tUsage newimage2 obsnum\n", stdout);
        return 0;
    }
    auto obsnum = whole_number(argv[1]);
    if (!obsnum) {
        std::printf("newimage2: not an observation number: %.40s\n", argv[1]);
        return 2;
    }
    // Give the camera system time to finish writing the frame.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    std::fflush(stdout);
    std::string name = "d" + std::to_string(*obsnum);
    int status = qor::run({qor::tool_path("ccdpeek"), qor::site_path("/data/") + name + ".ccd"});
    // The previews are the next frame's once it comes: the night report
    // keeps a small one of every frame beside its FITS copy.
    if (status == 0) {
        std::string folder = qor::site_path("/data/fits");
        mkdir(folder.c_str(), 0777);
        if (auto small = qor::read_file(qor::site_path("/u/tarnu/status/last1.jpg"))) {
            qor::replace_file(folder + "/" + name + ".jpg", *small);
        }
    }
    // The frame as standard FITS with its observation, and the night's index.
    std::fflush(stdout);
    qor::run({qor::tool_path("ccd2fits"), std::to_string(*obsnum)}, fits_limit);
    return status;
}
