// The host as the daemon meets it at night: the serial device, the system
// clock, real programs and standard output.
#pragma once

#include "seam.h"

namespace qlink {

class RealHost : public Host {
  public:
    ~RealHost() override { close_port(); }
    bool open_port(const Build& build, std::string& error) override;
    int configure(const Build& build, bool verbose) override;
    std::string read_port(std::size_t max) override;
    void write_port(std::string_view bytes) override;
    void flush_port() override;
    void close_port() override;
    double now() override;
    void sleep(double seconds) override;
    int run(const qor::Argv& argv) override;
    std::string capture(const qor::Argv& argv, std::size_t max_bytes) override;
    bool background(const qor::Argv& argv) override;
    void end_other_instances(const Build& build) override;
    void print(std::string_view text) override;

  private:
    int fd_ = -1;
};

} // namespace qlink
