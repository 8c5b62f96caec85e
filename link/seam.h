// The daemon's only contact with the world: the clock, programs, console
// and files of every program (qor::System), and the serial port. The real
// host talks to the device; tests put a scripted far end, a stepped clock
// and recorded tools here.
#pragma once

#include "system.h"

#include <string>
#include <string_view>

namespace qlink {

struct Build;

class Host : public qor::System {
  public:
    // Serial port.
    virtual bool open_port(const Build& build,
                           std::string& error) = 0;              // false: errno text in error
    virtual int configure(const Build& build, bool verbose) = 0; // set_com: 0 or -1
    virtual std::string read_port(std::size_t max) = 0;          // what has arrived, never waits
    virtual void write_port(std::string_view bytes) = 0;
    virtual void flush_port() = 0;
    virtual void close_port() = 0;

    // Ends every other running instance of this build's name (same site).
    virtual void end_other_instances(const Build& build) = 0;
};

} // namespace qlink
