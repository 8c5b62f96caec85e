// The host as the daemon meets it at night: the serial device, the system
// clock, real programs and standard output.
#pragma once

#include "seam.h"

namespace qlink {

class RealHost : public qor::RealSystemOf<Host> {
  public:
    ~RealHost() override { close_port(); }
    bool open_port(const Build& build, std::string& error) override;
    int configure(const Build& build, bool verbose) override;
    std::string read_port(std::size_t max) override;
    void write_port(std::string_view bytes) override;
    void flush_port() override;
    void close_port() override;
    void end_other_instances(const Build& build) override;

  private:
    int fd_ = -1;
};

} // namespace qlink
