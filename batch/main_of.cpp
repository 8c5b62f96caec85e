#include "driver.h"

#include <csignal>
#include <cstdio>
#include <exception>

namespace qobs {

int main_of(const Build& build, int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    try {
        qor::RealSystem system;
        Driver driver(build, system);
        return driver.main(std::vector<std::string>(argv, argv + argc));
    } catch (const std::exception& e) {
        std::printf("%s: %s\n", build.name, e.what());
        return 1;
    }
}

} // namespace qobs
