// Finding the other instances of this daemon under this site root.
#pragma once

#include <span>
#include <string_view>

namespace qlink {

// Whether a process, given its /proc cmdline and environ, runs one of the
// named programs under the site root own_root (QOR_ROOT without a trailing
// '/', "" for the real site).
bool is_other_instance(std::string_view cmdline, std::string_view environ,
                       std::span<const char* const> names, std::string_view own_root);

// Ends every process of the named programs under this site root; never
// this process.
void end_other_instances(std::span<const char* const> names);

} // namespace qlink
