// nightfits [FOLDER]: the FITS copies of every frame of a night's folder
// that has none (or a worse one), and the folder's index.
#include "convert.h"

#include <csignal>
#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    try {
        qor::RealSystem host;
        return qarch::nightfits(host, std::vector<std::string>(argv, argv + argc));
    } catch (const std::exception& e) {
        std::printf("nightfits: %s\n", e.what());
        return 1;
    }
}
