// keyshow key: prints one mailbox key; dbshow writes straight to our stdout.
#include "run.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("\n\t****** Usage: keyshow v1\n\n", stdout);
        return 0;
    }
    std::string line = std::string("dbshow setups.qor.") + argv[1] + ".value";
    std::fflush(stdout);
    return qor::run(qor::command_words(line));
}
