// linktest: the serial-line test program; runs until killed.
#include "real_host.h"
#include "serialtest.h"

#include <csignal>

int main() {
    std::signal(SIGPIPE, SIG_IGN);
    qlink::RealHost host;
    qlink::LineTester tester(host);
    if (tester.start() != 0) return -1;
    return tester.run();
}
