#include "status_site.h"

#include "files.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace qstatus::test {

using qor::test::TempSite;

int start_qorstatus(TempSite& site, const qor::Argv& extra, std::string& error, pid_t* pid) {
    static int runs = 0;
    std::string out = site.root() + "/qorstatus" + std::to_string(++runs) + ".out";
    qor::Argv argv{QORSTATUS_PATH};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back("0");
    pid_t started = site.start(argv, out);
    if (pid) *pid = started;
    int port = 0;
    const std::string mark = "http://127.0.0.1:";
    TempSite::wait_for(
        [&] {
            std::string text = qor::read_file(out).value_or("");
            auto at = text.find(mark);
            if (at != std::string::npos) port = std::atoi(text.c_str() + at + mark.size());
            return port > 0;
        },
        std::chrono::seconds(10));
    if (port == 0) error = "qorstatus did not start: " + qor::read_file(out).value_or("");
    return port;
}

Answer raw_request(int port, const std::string& method, const std::string& target) {
    Answer a;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return a;
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string request = method + " " + target +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                          "Content-Length: 0\r\nConnection: close\r\n\r\n";
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char buf[4096];
        for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) reply.append(buf, n);
    }
    close(fd);
    auto split = reply.find("\r\n\r\n");
    if (reply.compare(0, 9, "HTTP/1.1 ") != 0 || split == std::string::npos) return a;
    a.status = std::atoi(reply.c_str() + 9);
    a.head = reply.substr(0, split);
    a.body = reply.substr(split + 4);
    return a;
}

void write_night(TempSite& site, const std::string& now_line, int frame, bool live) {
    auto status = [&](const std::string& name) { return site.path("/u/tarnu/status/" + name); };
    std::string number = std::to_string(frame);
    if (!live) {
        // The simulated telescope's record, laid out as the link does.
        qor::replace_file(status("telescope.txt"),
                          "21:05:07.3\n10:44:10.9\n01:01:24.5\n+10:08:41.\n03:43:16.5\n"
                          "TR00 OK 0003\n+003.9C\n-110.00\n2026-12-08T21:04:50.0      17\n");
        qor::replace_file(status("job.txt"), "00" + number +
                                                 "\n0001\nOrion nebula                  \nM42\n"
                                                 "3 V\n30\n512 x 512\n");
    }
    qor::replace_file(status("nowjob.txt"), now_line + "\n");
    qor::append_file(site.path("/u/tarnu/qorlib/obs.log"), now_line + "\nfilt_V\n");
    std::string cards = site.path("/data/d") + number + ".ccd\n";
    for (const char* c :
         {"DATE-OBS", "EXPTIME", "FILTER", "OBJECT", "NAXIS1", "NAXIS2", "CCD-TEMP", "OBSERVER"})
        cards += std::string(c) + std::string(10 - std::string(c).size(), ' ') + "= 1\n";
    qor::replace_file(status("lastimage.txt"), cards);
    site.run({"convert", "-size", "512x512", "gradient:white-black", "-swirl", "120",
              status("last2.jpg")});
}

} // namespace qstatus::test
