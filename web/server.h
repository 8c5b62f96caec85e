// The HTTP side of the status page: a fixed set of names, each answered from
// memory or from the StatusSource; no part of a request's path ever reaches
// the file system.
//
// The page runs on the observing host beside the daemon and the driver, so
// no client, careless or hostile, may take memory or the server's time
// without bound: every connection has a small fixed memory budget, a few
// seconds to send its request's head, and there is a cap on connections. The
// server works on one event thread; a slow client holds no thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace qstatus {

class StatusSource;

struct Limits {
    // The request line and headers together; a longer head is answered 431
    // (or, sent in many short lines, its connection closed).
    std::size_t head_bytes = 16 * 1024;
    // Time to send the head, and the longest a connection may stay silent.
    int head_seconds = 4;
    // Connections at once; more are closed as they come.
    unsigned connections = 200;
};

// Names served, to GET and HEAD only (other methods get 405): the status
// page "/", "/status.css", "/status.js", "/status.json" and "/preview"; the
// script both pages share, "/page.js"; the night report "/night", "/night.css", "/night.js", "/night.json" and
// "/thumb/dN.jpg" (a frame's thumbnail). Everything else is 404. A request
// whose Host is not this server's (the address the connection came to, the
// listening address, localhost, 127.0.0.1 or [::1], each with the port) gets
// 421: a page of another site that reaches us through DNS rebinding reads
// nothing.
class Server {
  public:
    Server(StatusSource& source, Limits limits = {});
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens on address and port (0: a free one) and serves until stop().
    // Returns the port, or 0 with error saying why.
    int start(const std::string& address, int port, std::string& error);
    void stop();

    // For the library's callbacks.
    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

} // namespace qstatus
