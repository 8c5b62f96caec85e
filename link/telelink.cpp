// telelink: the link daemon for the on-board serial port.
#include "build.h"
#include "daemon.h"

int main(int argc, char** argv) {
    return qlink::daemon_main(qlink::telelink_build, argc, argv);
}
