#include "HostRun.h"

#include "Platform/ChildProcess.h"
#include "Platform/FileDescriptor.h"

#include <fcntl.h>
#include <unistd.h>

namespace brindle::benchmarks {

HostRun runHostOnce(std::string_view input) {
    HostRun run;
    int toHost[2];
    int fromHost[2];
    if (pipe2(toHost, O_CLOEXEC) != 0)
        return run;
    platform::FileDescriptor hostInput(toHost[0]);
    platform::FileDescriptor requests(toHost[1]);
    if (pipe2(fromHost, O_CLOEXEC) != 0)
        return run;
    platform::FileDescriptor replies(fromHost[0]);
    platform::FileDescriptor hostOutput(fromHost[1]);

    platform::ChildProcessLaunch launch;
    launch.program = BRINDLE_HOST_PATH;
    launch.standardInput = platform::ChildStream::descriptor(hostInput.get());
    launch.standardOutput = platform::ChildStream::descriptor(hostOutput.get());
    auto host = platform::ChildProcess::spawn(launch);
    hostInput.close();
    hostOutput.close();
    if (!host)
        return run;

    // Requests here are small enough to fit the pipe, so writing all before reading is safe.
    [[maybe_unused]] const ssize_t sent = write(requests.get(), input.data(), input.size());
    requests.close();
    char buffer[65536];
    ssize_t count = 0;
    while ((count = read(replies.get(), buffer, sizeof buffer)) > 0)
        run.output.append(buffer, static_cast<size_t>(count));

    const platform::ChildExit exit = host->waitForExit();
    run.peakResidentKiB = exit.peakResidentKiB;
    run.exitedCleanly = exit.exitCode == 0;
    return run;
}

} // namespace brindle::benchmarks
