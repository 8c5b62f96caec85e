// telelink: the link daemon for the on-board serial port.
#include "build.h"
#include "daemon.h"
#include "real_host.h"

#include <csignal>
#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    try {
        qlink::RealHost host;
        qlink::Daemon daemon(qlink::telelink_build, host);
        if (daemon.start(std::vector<std::string>(argv, argv + argc)) != 0) return -1;
        return daemon.run();
    } catch (const std::exception& e) {
        std::printf("telelink: %s\n", e.what());
        return -1;
    }
}
