#include "Platform/Processes.h"

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace brindle::platform {

namespace {

// A child that has ended while something it started still holds the pipe is noticed after a
// quiet spell this long.
constexpr int quietMilliseconds = 200;

} // namespace

Result<ChildRun> runKeepingStandardError(ChildProcessLaunch launch, std::size_t keptBytes) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return lastErrnoCode();
    const FileDescriptor reading(ends[0]);
    FileDescriptor writing(ends[1]);
    launch.standardError = ChildStream::descriptor(writing);
    Result<ChildProcess> child = ChildProcess::spawn(launch);
    if (!child)
        return child.error();
    // Only the child writes from here on: the pipe ends once it and its descendants have gone.
    writing.close();

    ChildRun run;
    char buffer[4096];
    for (;;) {
        // A child that writes on and on must not keep this process from ending when asked to:
        // the wait below ends it then.
        pollfd watch[2] = {{reading.get(), POLLIN, 0}, {terminationDescriptor().get(), POLLIN, 0}};
        const int ready = poll(watch, watch[1].fd >= 0 ? 2 : 1, quietMilliseconds);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && watch[0].revents != 0 && watch[1].revents == 0) {
            const ssize_t count = read(reading.get(), buffer, sizeof buffer);
            if (count == 0 || (count < 0 && errno != EINTR))
                break;
            if (count > 0 && run.standardError.size() < keptBytes)
                run.standardError.append(buffer, std::min(static_cast<std::size_t>(count),
                                                          keptBytes - run.standardError.size()));
            continue;
        }
        if (const auto exit = child->waitForExit(std::chrono::milliseconds(0))) {
            run.exit = *exit;
            return run;
        }
    }
    run.exit = child->waitForExit();
    return run;
}

} // namespace brindle::platform
