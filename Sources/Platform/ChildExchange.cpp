#include "Platform/Processes.h"

#include "Platform/Files.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace brindle::platform {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How often a child's exit is looked for while its output stays open.
constexpr auto exitPollInterval = 20ms;

struct Pipe {
    FileDescriptor reading;
    FileDescriptor writing;
};

Result<Pipe> makePipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return lastErrnoCode();
    return Pipe{FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

// A child that has already gone makes the write fail with EPIPE; the signal that comes with it
// must not end this program, whatever its own SIGPIPE disposition.
Result<> writeWithoutSIGPIPE(DescriptorRef pipe, std::string_view bytes) {
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    Result<> written = writeAll(pipe, bytes);
    if (!written && written.error() == std::errc::broken_pipe) {
        const timespec noWait{0, 0};
        sigtimedwait(&pipeSignal, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return written;
}

// Reads whatever is there without waiting; true once the other end is closed.
bool drain(int descriptor, std::string& output, std::size_t keptBytes) {
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(descriptor, buffer, sizeof buffer);
        if (count > 0) {
            if (output.size() < keptBytes)
                output.append(buffer, static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        return count == 0;
    }
}

// The output is read while the child runs, so that a long one cannot fill the pipe and stall it.
void collect(ChildProcess& child, int output, const ChildExchangeLimits& limits,
             ChildExchange& exchange) {
    const auto deadline = Clock::now() + limits.deadline;
    bool closed = false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) {
            exchange.exit = child.terminate(limits.terminationGrace);
            exchange.timedOut = true;
            return;
        }
        if (!closed) {
            pollfd watch{output, POLLIN, 0};
            poll(&watch, 1, static_cast<int>(std::min(left, exitPollInterval).count()));
            closed = drain(output, exchange.standardOutput, limits.keptOutputBytes);
        }
        if (auto exit = child.waitForExit(closed ? std::min(left, exitPollInterval) : 0ms)) {
            drain(output, exchange.standardOutput, limits.keptOutputBytes);
            exchange.exit = exit;
            return;
        }
    }
}

} // namespace

Result<ChildExchange> exchangeWithChild(ChildProcessLaunch launch, std::string_view input,
                                        const ChildExchangeLimits& limits) {
    Result<Pipe> toChild = makePipe();
    if (!toChild)
        return failure<ChildExchange>(toChild.error());
    Result<Pipe> fromChild = makePipe();
    if (!fromChild)
        return failure<ChildExchange>(fromChild.error());
    launch.standardInput = ChildStream::descriptor(toChild->reading);
    launch.standardOutput = ChildStream::descriptor(fromChild->writing);
    Result<ChildProcess> child = ChildProcess::spawn(launch);
    if (!child)
        return failure<ChildExchange>(child.error());
    toChild->reading.close();
    fromChild->writing.close();
    fcntl(fromChild->reading.get(), F_SETFL, O_NONBLOCK);

    ChildExchange exchange;
    // A child gone before reading (a crash at start) answers with what it wrote, if anything:
    // the broken pipe alone would depend on how fast it went.
    if (Result<> written = writeWithoutSIGPIPE(toChild->writing, input);
        !written && written.error() != std::errc::broken_pipe) {
        exchange.inputError = written.error();
        return exchange;
    }
    toChild->writing.close();
    collect(*child, fromChild->reading.get(), limits, exchange);
    return exchange;
}

} // namespace brindle::platform
