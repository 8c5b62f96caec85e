// Date and user stamps and the progress dot.
#include "clock.h"
#include "header_utils.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Longest user name taken from USER; the caller's buffer is sized for a
// login name, and the environment is not to be trusted with its length.
constexpr std::size_t user_max = 32;

// The asctime text, held to its 25 characters: the callers' buffers are
// sized for it.
std::string stamp() {
    std::string t = qor::now_asctime();
    if (t.size() > 25) t = t.substr(0, 24) + "\n";
    return t;
}

} // namespace

extern "C" void fdate_(char* a) {
    std::memcpy(a, stamp().c_str(), 26);
}

extern "C" void usrid_(char* a) {
    const char* user = std::getenv("USER");
    std::string s = user ? std::string(user).substr(0, user_max) : std::string();
    std::string t = stamp();
    t.replace(0, 3, "---");
    s += t;
    std::memcpy(a, s.c_str(), s.size() + 1);
}

extern "C" void dispdot_(void) {
    std::fputs(".", stdout);
    std::fflush(stdout);
}
