// exptimes: begin, end and read-out end of the last eight exposures.
#include "run.h"

#include <string>

int main() {
    int status = 0;
    for (int i = 0; i < 8; ++i) {
        for (const char* field : {"exp_begin", "exp_end", "ro_end"}) {
            status = qor::run({"dbshow", "imageid.exposures." + std::to_string(i) + "." + field});
        }
    }
    return status;
}
