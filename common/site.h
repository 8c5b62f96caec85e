// The site root: every fixed absolute path of the system goes through here.
//
// With QOR_ROOT set and not empty, "/u/tarnu/mokel/keyset" becomes
// "$QOR_ROOT/u/tarnu/mokel/keyset"; unset or empty, paths stay the real ones.
// Tests, benchmarks and the simulated night each use their own root.
#pragma once

#include <string>
#include <string_view>

namespace qor {

// The value of QOR_ROOT without a trailing '/', or "" for the real site.
std::string site_root();

// A fixed absolute path resolved under the site root.
std::string site_path(std::string_view path);

// A program or scratch file of the tools directory "/u/tarnu/mokel/".
std::string tool_path(std::string_view name);

} // namespace qor
