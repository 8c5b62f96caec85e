// A program's work with nothing thrown past its main: what was thrown is
// said on the console as "name: what", and the exit status is 1.
#pragma once

#include "system.h"

#include <exception>
#include <string>

namespace qor {

template <class Work> int guarded(System& system, const char* name, Work&& work) {
    try {
        return work();
    } catch (const std::exception& e) {
        system.print(std::string(name) + ": " + e.what() + "\n");
        return 1;
    }
}

} // namespace qor
