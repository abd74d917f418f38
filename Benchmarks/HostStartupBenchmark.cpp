// Chrome starts a fresh host for every one-shot message, so start-up is the latency the user
// feels: spawn, one framed ping, read the reply, end of input, exit.

#include "HostRun.h"
#include "MetadataCore/NativeMessageFrame.h"

#include <algorithm>
#include <benchmark/benchmark.h>

namespace {

using namespace brindle::benchmarks;

void BM_HostProcessPing(benchmark::State& state) {
    const std::string ping = brindle::nativeMessageFrame::encode(R"({"action":"ping"})");
    long peakResidentKiB = 0;
    for (auto _ : state) {
        const HostRun run = runHostOnce(ping);
        if (!run.exitedCleanly || run.output.size() < 4) {
            state.SkipWithError("the host did not answer the ping");
            return;
        }
        peakResidentKiB = std::max(peakResidentKiB, run.peakResidentKiB);
    }
    state.counters["peakRSS_KiB"] = static_cast<double>(peakResidentKiB);
}
BENCHMARK(BM_HostProcessPing)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
