#include "site.h"

#include <cstdlib>

namespace qor {

std::string site_root() {
    const char* root = std::getenv("QOR_ROOT");
    if (root == nullptr) return {};
    std::string r = root;
    while (!r.empty() && r.back() == '/') r.pop_back();
    return r;
}

std::string site_path(std::string_view path) {
    return site_root() + std::string(path);
}

std::string tool_path(std::string_view name) {
    return site_path("/u/tarnu/mokel/") + std::string(name);
}

} // namespace qor
