// telelinkusb: the link daemon for the USB serial adapter.
#include "build.h"
#include "daemon.h"

int main(int argc, char** argv) {
    return qlink::daemon_main(qlink::telelinkusb_build, argc, argv);
}
