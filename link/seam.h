// The daemon's only contact with the world: the clock, programs, console
// and files of every program (qor::System), and the serial port. The real
// host talks to the device; tests put a scripted far end, a stepped clock
// and recorded tools here.
#pragma once

#include "system.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qlink {

struct Port;

class Host : public qor::System {
  public:
    // Serial port.
    virtual bool open_port(const Port& port, std::string& error) = 0; // false: errno text in error
    virtual int configure(const Port& port, bool verbose) = 0;        // set_com: 0 or -1
    // What has arrived (possibly nothing), never waits. Nothing at all when
    // the device is gone (read error, hang-up): the reason is in error.
    virtual std::optional<std::string> read_port(std::size_t max, std::string& error) = 0;
    // Every byte, or false with the reason (device gone, or stuck past a
    // bounded wait).
    virtual bool write_port(std::string_view bytes, std::string& error) = 0;
    virtual void flush_port() = 0;
    virtual void close_port() = 0;

    // Ends every other running instance under these names (same site).
    virtual void end_other_instances(std::span<const char* const> names) = 0;
};

} // namespace qlink
