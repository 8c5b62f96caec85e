// qorstatus [--listen ADDRESS] [--batch FILE] PORT
//
// The observers' read-only status page for the night, at http://ADDRESS:PORT/
// (ADDRESS 127.0.0.1 unless given; PORT 0 takes a free one). It reads the
// site's status files and never writes anything or runs a program.
#include "server.h"
#include "source.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <pthread.h>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: qorstatus [--listen ADDRESS] [--batch FILE] PORT\n");
    return 2;
}

int serve(int argc, char** argv) {
    std::string address = "127.0.0.1";
    std::string port_text;
    qstatus::Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--listen" || arg == "--batch") && i + 1 < argc) {
            (arg == "--listen" ? address : options.batch_file) = argv[++i];
        } else if (port_text.empty() && !arg.empty() && arg[0] != '-') {
            port_text = arg;
        } else {
            return usage();
        }
    }
    if (port_text.empty() || address.empty() || port_text.size() > 5 ||
        port_text.find_first_not_of("0123456789") != std::string::npos)
        return usage();
    int port = std::stoi(port_text);
    if (port > 65535) return usage();

    // Signals are taken by this thread alone, in sigwait below; the server's
    // threads, started later, inherit the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop_signals, s);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a browser closing early is not our end

    qstatus::StatusSource source(options);
    qstatus::Server server(source);
    std::string error;
    port = server.start(address, port, error);
    if (port == 0) {
        std::fprintf(stderr, "qorstatus: cannot listen on %s port %s: %s\n", address.c_str(),
                     port_text.c_str(), error.c_str());
        return 1;
    }
    std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    std::printf("qorstatus: listening on http://%s:%d/\n", host.c_str(), port);
    std::fflush(stdout);

    int s = 0;
    sigwait(&stop_signals, &s);
    server.stop();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return serve(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qorstatus: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "qorstatus: unexpected failure\n");
    }
    return 1;
}
