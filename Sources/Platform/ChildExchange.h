#pragma once

#include "Platform/ChildProcess.h"
#include "Platform/Result.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace brindle::platform {

/// Bounds of one exchange with a child.
struct ChildExchangeLimits {
    /// From the moment the input is written: a child still running then is terminated.
    std::chrono::milliseconds deadline;
    /// What a child asked to end at the deadline gets before it is killed.
    std::chrono::milliseconds terminationGrace;
    /// The output is kept up to at least this many bytes (and at most one read beyond); the rest
    /// is read and dropped, so that a child that writes on and on never stalls.
    std::size_t keptOutputBytes;
};

/// How an exchange ended.
struct ChildExchange {
    /// The input could not be written to a child still there to read it; the child has been
    /// killed and nothing was read.
    std::error_code inputError;
    /// The child was still running at the deadline, and has been ended (with the process group it
    /// leads, if it leads one).
    bool timedOut = false;
    std::optional<ChildExit> exit;
    std::string standardOutput;
};

/// Starts the child with `input` on its standard input, closed after it, and its standard output
/// on a pipe (whatever `launch` says of those two streams), and collects what it writes until it
/// ends. The input is written whole before anything is read, so it must fit in a pipe (64 KiB).
/// A child that is gone before it reads the input is no error: what it wrote is its answer. A
/// child that has ended while something it started still holds the pipe is not waited for.
/// Fails as `ChildProcess::spawn` does, or for want of a pipe.
Result<ChildExchange> exchangeWithChild(ChildProcessLaunch launch, std::string_view input,
                                        const ChildExchangeLimits& limits);

} // namespace brindle::platform
