#pragma once

#include "CompanionCore/CompanionInstaller.h"
#include "KavoHelperApp/CommandLine.h"

#include <ostream>

namespace brindle {

/// The companion without a window, printing each step. Starting and connecting install the bundle
/// when it is not in a stable place, connect the browsers and probe the host; `status` shows each
/// browser's state and probes the host when all are connected; `disconnect` and `uninstall` do
/// what they say. Returns 0 when the action is done (for `status`: when every browser present is
/// connected and the host answers), 1 otherwise.
int runInTerminal(const CompanionInstaller& running, CommandLine::Action action, std::ostream& out);

} // namespace brindle
