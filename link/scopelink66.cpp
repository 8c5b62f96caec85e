// scopelink66: the reduced test build of the link daemon.
#include "build.h"
#include "daemon.h"

int main(int argc, char** argv) {
    return qlink::daemon_main(qlink::scopelink66_build, argc, argv);
}
