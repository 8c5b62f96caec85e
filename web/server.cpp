#include "server.h"

#include "page.h"
#include "source.h"

#include <httplib.h>
#include <sys/socket.h>

namespace qstatus {

namespace {

httplib::Server::Handler fixed(std::string_view body, const char* type) {
    return [body, type](const httplib::Request&, httplib::Response& res) {
        res.set_content(body.data(), body.size(), type);
    };
}

} // namespace

void add_routes(httplib::Server& server, StatusSource& source) {
    // Patterns are regular expressions matched against the whole decoded path.
    server.Get("/", fixed(page_html, "text/html; charset=utf-8"));
    server.Get(R"(/status\.css)", fixed(page_css, "text/css; charset=utf-8"));
    server.Get(R"(/status\.js)", fixed(page_js, "text/javascript; charset=utf-8"));
    server.Get(R"(/status\.json)", [&source](const httplib::Request&, httplib::Response& res) {
        res.set_content(source.json(), "application/json");
    });
    // The page asks for /preview?v=... with the version from the facts, so a
    // browser fetches the image again only when it changed.
    server.Get("/preview", [&source](const httplib::Request&, httplib::Response& res) {
        auto image = source.preview();
        if (!image) {
            res.status = 404;
            return;
        }
        // Sent from the shared copy, which stays alive until the answer is out.
        res.set_content_provider(
            image->bytes.size(), image->type,
            [image](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                return sink.write(image->bytes.data() + offset, length);
            });
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::to_string(res.status) + "\n", "text/plain");
    });

    // Nothing on the page comes from anywhere else, and nothing may be cached:
    // every answer is the state of the night now.
    server.set_default_headers({
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
         "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    });
    // One request per connection: a browser polling every few seconds would
    // otherwise hold one of the server's few threads for the whole keep-alive
    // time, and a handful of open pages would stall the rest.
    server.set_keep_alive_max_count(1);
    server.set_payload_max_length(4096);
    // The library would also set SO_REUSEPORT, which lets a second server
    // bind the same port and share its requests unnoticed; address reuse
    // alone still allows a restart while old connections linger.
    server.set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
}

} // namespace qstatus
