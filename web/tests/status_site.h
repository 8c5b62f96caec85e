// qorstatus in a temporary site, for the tests that talk to it over HTTP.
#pragma once

#include "temp_site.h"

#include <string>

namespace qstatus::test {

// Starts qorstatus (port 0, so every run gets a free port of its own) with
// the extra arguments, and waits until it tells its address. Returns the
// port, or 0 (error says why). The site's stop_all() ends it.
int start_qorstatus(qor::test::TempSite& site, const qor::Argv& extra, std::string& error,
                    pid_t* pid = nullptr);

struct Answer {
    int status = 0; // 0: no answer
    std::string head, body;
};
// One request sent as the bytes given, over its own connection to 127.0.0.1.
Answer raw_request(int port, const std::string& method, const std::string& target);

// The files of a night in full swing, in the layouts their writers use:
// telescope.txt and job.txt (unless live is set: then the link daemon writes
// them), nowjob.txt holding the given batch line, obs.log, lastimage.txt
// naming /data/d<frame>.ccd and a 512 x 512 last2.jpg made by convert.
void write_night(qor::test::TempSite& site, const std::string& now_line, int frame, bool live);

} // namespace qstatus::test
