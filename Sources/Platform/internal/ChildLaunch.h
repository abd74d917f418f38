#pragma once

#include "Platform/Processes.h"
#include "Platform/Result.h"

#include <sys/types.h>

namespace brindle::platform {

/// Starts the child `launch` describes: its process id, or the errno that kept it from starting
/// (a missing or unusable program among them, reported here rather than as an exit status).
Result<pid_t> startChild(const ChildProcessLaunch& launch);

} // namespace brindle::platform
