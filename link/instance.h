// Finding the other instances of this daemon under this site root.
#pragma once

#include <string_view>

namespace qlink {

// Whether a process, given its /proc cmdline and environ, is an instance of
// the named program under the site root own_root (QOR_ROOT without a
// trailing '/', "" for the real site).
bool is_other_instance(std::string_view cmdline, std::string_view environ, std::string_view name,
                       std::string_view own_root);

// Ends every other instance of the named program under this site root;
// never this process.
void end_other_instances(std::string_view name);

} // namespace qlink
