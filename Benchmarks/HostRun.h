#pragma once

#include <string>
#include <string_view>

namespace brindle::benchmarks {

struct HostRun {
    std::string output;         // everything the host wrote, frames included
    long peakResidentKiB = 0;   // the host process's peak resident memory
    bool exitedCleanly = false; // exit status 0
};

/// Starts the built host, feeds it `input`, closes its input and waits for it to end.
HostRun runHostOnce(std::string_view input);

} // namespace brindle::benchmarks
