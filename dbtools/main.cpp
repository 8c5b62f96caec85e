// The main of each tool: CMakeLists.txt compiles it once per tool, with
// QOR_PROGRAM naming the tool's function in tools.h.
#include "tools.h"

int main(int argc, char** argv) {
    qor::RealSystem system;
    return qdb::QOR_PROGRAM(system, {argv, argv + argc});
}
