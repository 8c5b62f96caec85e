// batchcheck on its arguments (args[0] its name) and the seam: the batch
// file, FILTER, the status line in the mailbox and the clock all come
// through the system. Returns the exit status; nothing thrown past it.
#pragma once

#include "system.h"

#include <string>
#include <vector>

namespace qobs {

int batchcheck(qor::System& system, const std::vector<std::string>& args);

} // namespace qobs
