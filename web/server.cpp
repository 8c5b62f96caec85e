#include "server.h"

#include "night.h"
#include "page.h"
#include "source.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <microhttpd.h>
#include <mutex>
#include <netdb.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace qstatus {

namespace {

using Clock = std::chrono::steady_clock;

// Nothing on the page comes from anywhere else, and nothing may be cached:
// every answer is the state of the night now.
const std::pair<const char*, const char*> common_headers[] = {
    {"Cache-Control", "no-store"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
     "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    // One request per connection: the page polls every few seconds, and a
    // connection kept for the next poll would only count against the cap.
    {"Connection", "close"},
};

// The text of an address as it stands in a Host header: IPv6 in brackets.
std::string host_text(const sockaddr* sa) {
    char buf[INET6_ADDRSTRLEN] = "";
    if (sa->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, buf, sizeof buf);
        return buf;
    }
    if (sa->sa_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, buf, sizeof buf);
        return "[" + std::string(buf) + "]";
    }
    return {};
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

} // namespace

struct Server::Impl {
    StatusSource& source;
    Limits limits;
    MHD_Daemon* daemon = nullptr;
    int port = 0;
    std::set<std::string> hosts; // lower case, each with ":port"

    // Connections that have not yet sent their whole head: a descriptor of
    // their socket of our own (so that its number can never be another
    // socket's by the time we use it) and the moment they must have. The
    // watchman shuts the socket of one that is late, and the library, seeing
    // it end, closes the connection.
    struct Pending {
        int fd;
        Clock::time_point deadline;
    };
    std::mutex mutex;
    std::condition_variable wake;
    std::map<MHD_Connection*, Pending> pending;
    bool stopping = false;
    std::thread watchman;

    Impl(StatusSource& s, Limits l) : source(s), limits(l) {}

    void watch() {
        std::unique_lock lock(mutex);
        while (!stopping) {
            wake.wait_for(lock, std::chrono::milliseconds(200));
            const auto now = Clock::now();
            for (auto it = pending.begin(); it != pending.end();) {
                if (it->second.deadline > now) {
                    ++it;
                    continue;
                }
                shutdown(it->second.fd, SHUT_RDWR);
                close(it->second.fd);
                it = pending.erase(it);
            }
        }
    }

    void head_in(MHD_Connection* c) {
        std::lock_guard lock(mutex);
        if (auto it = pending.find(c); it != pending.end()) {
            close(it->second.fd);
            pending.erase(it);
        }
    }

    static void notify(void* cls, MHD_Connection* c, void**, MHD_ConnectionNotificationCode code) {
        auto* self = static_cast<Impl*>(cls);
        if (code != MHD_CONNECTION_NOTIFY_STARTED) return self->head_in(c);
        const auto* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
        const int fd = info != nullptr ? fcntl(info->connect_fd, F_DUPFD_CLOEXEC, 0) : -1;
        if (fd < 0) return; // no time limit but the library's idle one
        std::lock_guard lock(self->mutex);
        self->pending[c] = {fd, Clock::now() + std::chrono::seconds(self->limits.head_seconds)};
    }

    // Paths are compared as sent: nothing is decoded, so no escape can turn
    // one name into another (or end it early with %00).
    static size_t keep_escapes(void*, MHD_Connection*, char* s) { return std::strlen(s); }

    bool host_allowed(MHD_Connection* c) {
        const char* host = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
        if (host == nullptr) return false;
        std::string h = lower(host);
        const std::size_t name_end = h.starts_with('[') ? h.find(']') : 0;
        const bool has_port =
            name_end != std::string::npos && h.find(':', name_end) != std::string::npos;
        if (!has_port && port == 80)
            h += ":80"; // the port may be left out only when it is the default
        if (hosts.count(h)) return true;
        // The address this connection came to: the way in when listening on
        // all of the host's addresses.
        const auto* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
        sockaddr_storage local{};
        socklen_t len = sizeof local;
        if (info == nullptr ||
            getsockname(info->connect_fd, reinterpret_cast<sockaddr*>(&local), &len) != 0)
            return false;
        return h ==
               lower(host_text(reinterpret_cast<sockaddr*>(&local))) + ":" + std::to_string(port);
    }

    static MHD_Result answer(MHD_Connection* c, unsigned status, const char* type, const void* data,
                             std::size_t size, MHD_ResponseMemoryMode mode,
                             const char* allow = nullptr) {
        MHD_Response* r = MHD_create_response_from_buffer(size, const_cast<void*>(data), mode);
        if (r == nullptr) return MHD_NO;
        for (auto [name, value] : common_headers) MHD_add_response_header(r, name, value);
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, type);
        if (allow != nullptr) MHD_add_response_header(r, MHD_HTTP_HEADER_ALLOW, allow);
        const MHD_Result done = MHD_queue_response(c, status, r);
        MHD_destroy_response(r);
        return done;
    }

    static MHD_Result refuse(MHD_Connection* c, unsigned status, const char* allow = nullptr) {
        static const std::map<unsigned, std::string> texts = {
            {404, "404\n"}, {405, "405\n"}, {421, "421\n"}};
        const std::string& text = texts.at(status);
        return answer(c, status, "text/plain", text.data(), text.size(), MHD_RESPMEM_PERSISTENT,
                      allow);
    }

    static MHD_Result access(void* cls, MHD_Connection* c, const char* url, const char* method,
                             const char*, const char*, size_t*, void**) {
        auto* self = static_cast<Impl*>(cls);
        self->head_in(c);
        // Answered before any body is read, which the library then drops
        // with the connection.
        const std::string m = method;
        if (m != MHD_HTTP_METHOD_GET && m != MHD_HTTP_METHOD_HEAD)
            return refuse(c, 405, "GET, HEAD");
        if (!self->host_allowed(c)) return refuse(c, 421);
        return self->route(c, url);
    }

    MHD_Result route(MHD_Connection* c, const std::string& url) {
        static constexpr const char* html = "text/html; charset=utf-8";
        static constexpr const char* css = "text/css; charset=utf-8";
        static constexpr const char* js = "text/javascript; charset=utf-8";
        static const std::map<std::string, std::pair<std::string_view, const char*>> fixed = {
            {"/page.js", {assets::page_js, js}},
            {"/", {assets::status_html, html}},       {"/status.css", {assets::status_css, css}},
            {"/status.js", {assets::status_js, js}},  {"/night", {assets::night_html, html}},
            {"/night.css", {assets::night_css, css}}, {"/night.js", {assets::night_js, js}},
        };
        if (auto it = fixed.find(url); it != fixed.end()) {
            auto [body, type] = it->second;
            return answer(c, 200, type, body.data(), body.size(), MHD_RESPMEM_PERSISTENT);
        }
        const auto facts = [&](const std::string& json) {
            return answer(c, 200, "application/json", json.data(), json.size(),
                          MHD_RESPMEM_MUST_COPY);
        };
        if (url == "/status.json") return facts(source.json());
        if (url == "/night.json") return facts(source.night_json());
        // The page asks for /preview?v=... with the version from the facts,
        // so a browser fetches the image again only when it changed; the
        // night report asks for its thumbnails in the same way.
        std::shared_ptr<const Image> image;
        if (url == "/preview") {
            image = source.preview();
        } else if (url.starts_with("/thumb/") && thumbnail_name(url.substr(7))) {
            image = source.thumbnail(url.substr(7));
        } else {
            return refuse(c, 404);
        }
        if (!image) return refuse(c, 404);
        return answer(c, 200, image->type, image->bytes.data(), image->bytes.size(),
                      MHD_RESPMEM_MUST_COPY);
    }
};

Server::Server(StatusSource& source, Limits limits)
    : impl_(std::make_unique<Impl>(source, limits)) {}

Server::~Server() {
    stop();
}

int Server::start(const std::string& address, int port, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (int e = getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
        e != 0) {
        error = gai_strerror(e);
        return 0;
    }
    int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Address reuse alone allows a restart while old connections linger;
    // SO_REUSEPORT is left off, as it would let a second server bind the same
    // port and share its requests unnoticed.
    int yes = 1;
    const bool bound = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
                       bind(fd, found->ai_addr, found->ai_addrlen) == 0 && listen(fd, 64) == 0;
    const int family = found->ai_family;
    freeaddrinfo(found);
    sockaddr_storage bound_to{};
    socklen_t len = sizeof bound_to;
    if (!bound || getsockname(fd, reinterpret_cast<sockaddr*>(&bound_to), &len) != 0) {
        error = std::strerror(errno);
        if (fd >= 0) close(fd);
        return 0;
    }
    Impl& s = *impl_;
    s.port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound_to)->sin6_port
                                      : reinterpret_cast<sockaddr_in*>(&bound_to)->sin_port);
    const std::string p = ":" + std::to_string(s.port);
    for (const std::string h : {"localhost", "127.0.0.1", "[::1]"}) s.hosts.insert(h + p);
    s.hosts.insert(lower(address.find(':') != std::string::npos ? "[" + address + "]" : address) +
                   p);

    // The library reads a head into at most half of a connection's memory
    // and answers 431 when it does not fit (or, in many short lines, closes
    // the connection); the other half holds the answer's head.
    const unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | (family == AF_INET6 ? MHD_USE_IPv6 : 0);
    s.daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Impl::access, &s, MHD_OPTION_LISTEN_SOCKET, fd,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(2 * s.limits.head_bytes),
        MHD_OPTION_CONNECTION_LIMIT, s.limits.connections, MHD_OPTION_CONNECTION_TIMEOUT,
        static_cast<unsigned>(s.limits.head_seconds), MHD_OPTION_NOTIFY_CONNECTION, &Impl::notify,
        &s, MHD_OPTION_UNESCAPE_CALLBACK, &Impl::keep_escapes, &s, MHD_OPTION_END);
    if (s.daemon == nullptr) {
        error = "the HTTP library did not start";
        close(fd);
        return 0;
    }
    s.watchman = std::thread([&s] { s.watch(); });
    return s.port;
}

void Server::stop() {
    Impl& s = *impl_;
    if (s.daemon != nullptr) {
        MHD_stop_daemon(s.daemon);
        s.daemon = nullptr;
    }
    {
        std::lock_guard lock(s.mutex);
        s.stopping = true;
    }
    s.wake.notify_all();
    if (s.watchman.joinable()) s.watchman.join();
    for (auto& [c, p] : s.pending) close(p.fd);
    s.pending.clear();
}

} // namespace qstatus
