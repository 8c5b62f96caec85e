// qorstatus in a temporary site, for the tests that talk to it over HTTP,
// and the plain HTTP/1.1 client they talk with (loopback only).
#pragma once

#include "temp_site.h"

#include <atomic>
#include <string>
#include <thread>

namespace qstatus::test {

// Starts qorstatus (port 0, so every run gets a free port of its own) with
// the extra arguments, and waits until it tells its address. Returns the
// port, or 0 (error says why). The site's stop_all() ends it.
int start_qorstatus(qor::test::TempSite& site, const qor::Argv& extra, std::string& error,
                    pid_t* pid = nullptr);

// One connection to 127.0.0.1:port; closed with the object.
class Connection {
  public:
    explicit Connection(int port);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool connected() const { return fd_ >= 0; }
    // False once the server has closed the connection (or never took it).
    bool send(const std::string& bytes);
    // Reads until the server closes the connection or seconds pass (or,
    // with answer_ends, a whole answer has come); true when it closed. What
    // came is in received.
    bool closed_within(double seconds, bool answer_ends = false);
    std::string received;

  private:
    int fd_ = -1;
};

// Clients that hold connections open without ever finishing a request:
// silent ones send nothing, trickling ones a request line and then a header
// line every 2 s. Each is opened again as soon as the server closes it, until
// the object goes.
class SlowClients {
  public:
    SlowClients(int port, int silent, int trickling);
    ~SlowClients();

  private:
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};

struct Answer {
    int status = 0; // 0: no answer
    std::string head, body;
};
// The answer in bytes read off a connection ("HTTP/1.1 200 ...").
Answer parse_answer(const std::string& reply);

// One request over its own connection, with Host 127.0.0.1:port unless
// host is given, and the body (JSON) when there is one.
Answer http(int port, const std::string& method, const std::string& target,
            const std::string& body = "", const std::string& host = "", double seconds = 10);
inline Answer raw_request(int port, const std::string& method, const std::string& target) {
    return http(port, method, target);
}

// The resident size of a process, in kB, from /proc.
long rss_kb(pid_t pid);

// The files of a night in full swing, in the layouts their writers use:
// telescope.txt and job.txt (unless live is set: then the link daemon writes
// them), nowjob.txt holding the given batch line, obs.log, lastimage.txt
// naming /data/d<frame>.ccd and a 512 x 512 last2.jpg made by convert.
void write_night(qor::test::TempSite& site, const std::string& now_line, int frame, bool live);

// The night report's files for frames d1..dN of one batch line, each begun
// two minutes after the one before from start (seconds since the epoch):
// the index as archive/ writes it, a 256 x 256 thumbnail of each made by
// convert (one already there is kept), and the driver's events (yesterday's
// first, which are not of the night). The first frame's object is the one
// given.
void write_night_report(qor::test::TempSite& site, int frames, double start,
                        const std::string& object = "M42");
// An event line of the driver: "<UTC>\t<kind>\t<text>".
std::string event_line(double at, const std::string& kind, const std::string& text);

} // namespace qstatus::test
