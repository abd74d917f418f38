#pragma once

#include "Platform/ChildProcess.h"
#include "Platform/Result.h"

#include <cstddef>
#include <string>

namespace brindle::platform {

/// How a child ended, and the start of what it wrote to its standard error.
struct ChildRun {
    ChildExit exit;
    std::string standardError;
};

/// Starts the child with its standard error on a pipe (whatever `launch` says of that stream)
/// and waits for it to end, however long that takes. The pipe is read all along, so the child
/// never blocks on it; the first `keptBytes` are kept and the rest is dropped. Fails as
/// `ChildProcess::spawn` does.
Result<ChildRun> runKeepingStandardError(ChildProcessLaunch launch, std::size_t keptBytes);

} // namespace brindle::platform
