#pragma once

#include "CompanionCore/CompanionInstaller.h"

#include <ostream>

namespace brindle {

/// The companion without a window: installs the bundle when it is not in a stable place,
/// connects Chrome, probes the host and prints each step. Returns 0 when Chrome is connected
/// and the host answers, 1 otherwise.
int runInTerminal(const CompanionInstaller& running, std::ostream& out);

} // namespace brindle
