#include "ChildLaunch.h"
#include "Platform/Processes.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace brindle::platform {
namespace {

using Milliseconds = std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// What a child asked to end gets before it is killed, when this process itself is ending: an
// encoder stops at once, FFmpeg closes its output, and Chrome allows the whole host two seconds.
constexpr Milliseconds terminationGrace{500};

ChildExit exitFromStatus(int status, const rusage& usage) {
    if (WIFEXITED(status))
        return {WEXITSTATUS(status), 0, usage.ru_maxrss};
    return {-1, WIFSIGNALED(status) ? WTERMSIG(status) : 0, usage.ru_maxrss};
}

FileDescriptor openProcessDescriptor(pid_t pid) {
    const long descriptor = syscall(SYS_pidfd_open, pid, 0);
    // A pidfd is close-on-exec from birth, so later children never inherit it.
    return FileDescriptor(descriptor < 0 ? -1 : static_cast<int>(descriptor));
}

} // namespace

Result<ChildProcess> ChildProcess::spawn(const ChildProcessLaunch& launch) {
    throwIfTerminationRequested(); // a process that is ending starts nothing more
    const Result<pid_t> pid = startChild(launch);
    if (!pid)
        return pid.error();
    processJournal::noteChildProcess(*pid);
    return ChildProcess(*pid, openProcessDescriptor(*pid), launch.ownProcessGroup);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), processDescriptor_(std::move(other.processDescriptor_)),
      leadsGroup_(other.leadsGroup_), exit_(other.exit_) {
    other.pid_ = -1;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exit_) {
        signal(SIGKILL);
        reap(true);
    }
}

// The group keeps its number while the child is unreaped, so the signal reaches no stranger.
void ChildProcess::signal(int number) const {
    ::kill(leadsGroup_ ? -pid_ : pid_, number);
}

std::optional<ChildExit> ChildProcess::reap(bool block) {
    if (exit_)
        return exit_;
    int status = 0;
    rusage usage{};
    pid_t result = 0;
    do {
        result = wait4(pid_, &status, block ? 0 : WNOHANG, &usage);
    } while (result < 0 && errno == EINTR);
    if (result == pid_)
        exit_ = exitFromStatus(status, usage);
    else if (result < 0)
        exit_ = ChildExit{}; // reaped elsewhere: nothing more can be learned about it
    return exit_;
}

std::optional<ChildExit> ChildProcess::await(std::optional<Milliseconds> timeout,
                                             bool watchTermination) {
    const int termination = watchTermination ? terminationDescriptor().get() : -1;
    const auto deadline = timeout ? Clock::now() + *timeout : Clock::time_point::max();
    while (!exit_) {
        if (termination >= 0 && terminationRequested()) {
            terminate(terminationGrace);
            throw TerminationRequested{};
        }
        const auto left = std::chrono::ceil<Milliseconds>(deadline - Clock::now());
        if (!processDescriptor_.isOpen()) {
            // Without a process descriptor, look in short steps so an exit is still seen quickly.
            if (reap(false) || left.count() <= 0)
                break;
            std::this_thread::sleep_for(std::min(left, Milliseconds(2)));
            continue;
        }
        if (!timeout && termination < 0)
            return reap(true);
        pollfd watch[2] = {{processDescriptor_.get(), POLLIN, 0}, {termination, POLLIN, 0}};
        const int ready = poll(watch, termination >= 0 ? 2 : 1,
                               timeout ? static_cast<int>(std::max<long>(left.count(), 0)) : -1);
        if (ready > 0 && watch[0].revents != 0)
            return reap(true);
        if (ready == 0)
            return reap(false);
        // A signal cut the wait short, or this process is asked to end: look again.
    }
    return exit_;
}

std::optional<ChildExit> ChildProcess::waitForExit(Milliseconds timeout) {
    return await(timeout, true);
}

ChildExit ChildProcess::waitForExit() {
    return *await(std::nullopt, true);
}

ChildExit ChildProcess::terminate(Milliseconds grace) {
    if (exit_)
        return *exit_;
    signal(SIGTERM);
    if (auto ended = await(grace, false)) {
        // What the child started may outlive it. The group keeps the child's number for as long
        // as any of its members lives, so the number still names them and no other group.
        if (leadsGroup_)
            signal(SIGKILL);
        return *ended;
    }
    return kill();
}

ChildExit ChildProcess::kill() {
    if (exit_)
        return *exit_;
    signal(SIGKILL);
    return *await(std::nullopt, false);
}

} // namespace brindle::platform
