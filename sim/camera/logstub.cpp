// Harmless stand-in for an outside command (beep, sudo, newimage0, ...):
// appends the command line it was given to $QOR_ROOT/var/log/<name>.log and
// does nothing else. In particular sudo never runs anything, as root or not.
// With sim.hang.<name> at 1 it hangs instead (camdb.h).
#include "camdb.h"
#include "files.h"
#include "site.h"

#include <string>

int main(int argc, char** argv) {
    std::string name = argc > 0 ? argv[0] : "stub";
    if (auto slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
    qor::sim::hang_if_asked(name);
    std::string line = name;
    for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
    line += '\n';
    qor::append_file(qor::site_path("/var/log/") + name + ".log", line);
    return 0;
}
