// The HTTP side of the status page: a fixed set of names, each answered from
// memory or from the StatusSource; no part of a request's path ever reaches
// the file system.
#pragma once

namespace httplib {
class Server;
}

namespace qstatus {

class StatusSource;

// Names served: "/", "/status.css", "/status.js", "/status.json" and
// "/preview". Everything else is 404.
void add_routes(httplib::Server& server, StatusSource& source);

} // namespace qstatus
