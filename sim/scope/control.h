// Talking to a running simulator: the control FIFO and its files under
// <root>/var/scope/. For tests (linked as qorscopectl) and for scopesim --control.
#pragma once

#include <string>
#include <string_view>

namespace qor::scope {

// <root>/var/scope, where the simulator keeps its FIFO, pid file and logs.
std::string scope_dir(const std::string& root);

// Writes one request line to the control FIFO of the simulator of that site.
// Never blocks: false (with the reason) when no simulator is listening.
bool send_control(const std::string& root, std::string_view line, std::string& error);

} // namespace qor::scope
