// ccd2fits OBSNUM|FRAME.ccd [--wait SECONDS]: the FITS copy of one frame,
// and the index of its folder.
#include "convert.h"

#include <csignal>
#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    try {
        qor::RealSystem host;
        return qarch::ccd2fits(host, std::vector<std::string>(argv, argv + argc));
    } catch (const std::exception& e) {
        std::printf("ccd2fits: %s\n", e.what());
        return 1;
    }
}
