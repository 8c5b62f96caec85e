// linktest: checks the serial line by hand. It sends two fixed test
// commands and a poll at a fixed rhythm, unframed, and prints everything it
// receives; it uses neither the mailbox nor any status file.
#pragma once

#include "seam.h"

namespace qlink {

class LineTester {
  public:
    explicit LineTester(Host& host) : host_(host) {}

    // Port permission, open, set-up (the speed always printed). 0 to go
    // on; -1 after "uart open err:" or "set_com failed!".
    int start();

    // One second: with a four-step counter, the poll goes out every 4 s,
    // the test move every 32 s (first in the 5th second) and the filter
    // test 12 s after each; then whatever has arrived is printed.
    void cycle();

    int run();

  private:
    Host& host_;
    int j_ = 0; // seconds, modulo 4
    int i_ = 0; // four-second steps, modulo 8
};

} // namespace qlink
