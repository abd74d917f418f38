// Chrome starts a fresh host for every one-shot message, so start-up is the latency the user
// feels: spawn, one framed ping, read the reply, end of input, exit.

#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const char pingFrame[] = "\x11\x00\x00\x00{\"action\":\"ping\"}";

void BM_HostProcessPing(benchmark::State& state) {
    long peakResidentKiB = 0;
    for (auto _ : state) {
        int toHost[2];
        int fromHost[2];
        if (pipe2(toHost, O_CLOEXEC) != 0 || pipe2(fromHost, O_CLOEXEC) != 0) {
            state.SkipWithError("pipe2 failed");
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toHost[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromHost[1], 1);
        char* argv[] = {const_cast<char*>(BRINDLE_HOST_PATH), nullptr};
        pid_t pid = 0;
        const int error = posix_spawn(&pid, BRINDLE_HOST_PATH, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(toHost[0]);
        close(fromHost[1]);
        if (error != 0) {
            state.SkipWithError("cannot start brindle-host");
            return;
        }

        [[maybe_unused]] ssize_t sent = write(toHost[1], pingFrame, sizeof pingFrame - 1);
        close(toHost[1]);
        char reply[4096];
        size_t received = 0;
        ssize_t count = 0;
        while ((count = read(fromHost[0], reply + received, sizeof reply - received)) > 0)
            received += static_cast<size_t>(count);
        close(fromHost[0]);

        int status = 0;
        rusage usage{};
        while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        peakResidentKiB = std::max(peakResidentKiB, usage.ru_maxrss);
        if (received < 4 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the host did not answer the ping");
            return;
        }
    }
    state.counters["peakRSS_KiB"] = static_cast<double>(peakResidentKiB);
}
BENCHMARK(BM_HostProcessPing)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
