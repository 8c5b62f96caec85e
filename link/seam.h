// The daemon's only contact with the world: the serial port, the clock,
// the programs it runs and its console. The real host talks to the device;
// tests put a scripted far end, a stepped clock and recorded tools here.
#pragma once

#include "run.h"

#include <string>
#include <string_view>

namespace qlink {

struct Build;

class Host {
  public:
    virtual ~Host() = default;

    // Serial port.
    virtual bool open_port(const Build& build,
                           std::string& error) = 0;              // false: errno text in error
    virtual int configure(const Build& build, bool verbose) = 0; // set_com: 0 or -1
    virtual std::string read_port(std::size_t max) = 0;          // what has arrived, never waits
    virtual void write_port(std::string_view bytes) = 0;
    virtual void flush_port() = 0;
    virtual void close_port() = 0;

    // Clock: seconds since the epoch, with fraction.
    virtual double now() = 0;
    virtual void sleep(double seconds) = 0;

    // Programs.
    virtual int run(const qor::Argv& argv) = 0;
    virtual std::string capture(const qor::Argv& argv, std::size_t max_bytes) = 0;
    virtual bool background(const qor::Argv& argv) = 0;
    virtual void end_other_instances(const Build& build) = 0;

    // Console (standard output of the daemon).
    virtual void print(std::string_view text) = 0;
};

} // namespace qlink
