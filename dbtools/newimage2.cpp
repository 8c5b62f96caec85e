// newimage2 obsnum: makes the quick-look previews of a new frame.
#include "run.h"
#include "site.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

namespace {

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
    return qor::run(
        {qor::tool_path("ccdpeek"), qor::site_path("/data/d") + std::to_string(*obsnum) + ".ccd"});
}
