// ccd2fits OBSNUM|FRAME.ccd [--wait SECONDS]: the FITS copy of one frame,
// and the index of its folder.
#include "convert.h"
#include "guarded.h"

#include <csignal>

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    qor::RealSystem host;
    return qor::guarded(host, "ccd2fits", [&] { return qarch::ccd2fits(host, {argv, argv + argc}); });
}
