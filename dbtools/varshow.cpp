// varshow group name: prints the camera database key setups.<group>.<name>.value.
#include "run.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("\n\t**** Usage: varshow variables obsnum\n\n", stdout);
        return 0;
    }
    std::string line = std::string("dbshow setups.") + argv[1] + "." + argv[2] + ".value";
    std::fflush(stdout);
    return qor::run(qor::command_words(line));
}
