// Publication of every accepted telescope status record: the mailbox key v1
// for the batch driver, telescope.txt for the observers and expstart, the
// night's position log, and the camera's exposure phase from exp3.
#pragma once

#include "status.h"
#include "system.h"

#include <string>
#include <string_view>

namespace qlink {

class Publisher {
  public:
    explicit Publisher(qor::System& sys) : sys_(sys) {}

    // The position log, the echo of the record (when echo), the key v1 and
    // the copy in v1. Returns the status line (the record without its
    // backquote).
    std::string publish(std::string_view record, bool echo);

    // getexpo: the exposure-phase text for the local time of day now (in
    // seconds). known is false when exp3 gave nothing to go by (missing,
    // hung, too short to hold its three stamps); the text is then what it
    // printed, and the daemon says so once.
    std::string getexpo(int now, int expt, float rect, bool& known);

    // telescope.txt, rewritten whole.
    void write_status_file(std::string_view line, std::string_view phase);

    std::string v1; // the first 80 characters of the latest status line
    int ontime = 0; // inside the position log's night window
    Expo expo;      // exp3's numbers and the remaining exposure time

  private:
    void log_position(std::string_view line);

    qor::System& sys_;
    bool exp3_said_ = false;
};

} // namespace qlink
