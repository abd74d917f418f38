#include "HostRun.h"

#include "Platform/Processes.h"

#include <chrono>

namespace brindle::benchmarks {

HostRun runHostOnce(std::string_view input) {
    using namespace std::chrono_literals;
    platform::ChildProcessLaunch launch;
    launch.program = BRINDLE_HOST_PATH;
    // Requests here are small enough to fit the pipe, as the exchange needs; the replies are all
    // kept.
    const platform::ChildExchangeLimits limits{60s, 2s, std::size_t(1) << 30};
    const auto exchange = platform::exchangeWithChild(launch, input, limits);
    HostRun run;
    if (!exchange || exchange->inputError || !exchange->exit)
        return run;
    run.output = exchange->standardOutput;
    run.peakResidentKiB = exchange->exit->peakResidentKiB;
    run.exitedCleanly = !exchange->timedOut && exchange->exit->exitCode == 0;
    return run;
}

} // namespace brindle::benchmarks
