// The host as the daemon meets it at night: the serial device, the system
// clock, real programs and standard output.
#pragma once

#include "seam.h"

namespace qlink {

class RealHost : public qor::RealSystemOf<Host> {
  public:
    ~RealHost() override { close_port(); }
    bool open_port(const Port& port, std::string& error) override;
    int configure(const Port& port, bool verbose) override;
    std::optional<std::string> read_port(std::size_t max, std::string& error) override;
    bool write_port(std::string_view bytes, std::string& error) override;
    void flush_port() override;
    void close_port() override;
    void end_other_instances(std::span<const char* const> names) override;

  private:
    int fd_ = -1;
};

} // namespace qlink
