// scopelink4: the basic link daemon: no resend, no test traffic, no restart.
#include "build.h"
#include "daemon.h"

int main(int argc, char** argv) {
    return qlink::daemon_main(qlink::scopelink4_build, argc, argv);
}
