// nightfits [FOLDER]: the FITS copies of every frame of a night's folder
// that has none (or a worse one), and the folder's index.
#include "convert.h"
#include "guarded.h"

#include <csignal>

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    qor::RealSystem host;
    return qor::guarded(host, "nightfits", [&] { return qarch::nightfits(host, {argv, argv + argc}); });
}
