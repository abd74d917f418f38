#include "Platform/ChildProcess.h"

#include "Platform/ProcessJournal.h"
#include "Platform/Termination.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace brindle::platform {
namespace {

using Milliseconds = std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// What a child asked to end gets before it is killed, when this process itself is ending: an
// encoder stops at once, FFmpeg closes its output, and Chrome allows the whole host two seconds.
constexpr Milliseconds terminationGrace{500};

class SpawnSettings {
public:
    SpawnSettings() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSettings() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

struct Placement {
    int source; // this program's descriptor
    int target; // its number in the child
};

// Each descriptor is first copied above every number involved, then to its place, so that no
// copy overwrites a descriptor that is still to be copied. dup2 clears close-on-exec on the
// copies, so exactly these reach the child.
int place(posix_spawn_file_actions_t& actions, const std::vector<Placement>& placements) {
    int scratchBase = STDERR_FILENO + 1;
    for (const Placement& placement : placements)
        scratchBase = std::max({scratchBase, placement.source + 1, placement.target + 1});
    for (size_t index = 0; index < placements.size(); ++index) {
        const int scratch = scratchBase + static_cast<int>(index);
        if (int error =
                posix_spawn_file_actions_adddup2(&actions, placements[index].source, scratch))
            return error;
    }
    for (size_t index = 0; index < placements.size(); ++index) {
        const int scratch = scratchBase + static_cast<int>(index);
        if (int error =
                posix_spawn_file_actions_adddup2(&actions, scratch, placements[index].target))
            return error;
        if (int error = posix_spawn_file_actions_addclose(&actions, scratch))
            return error;
    }
    return 0;
}

int arrangeDescriptors(posix_spawn_file_actions_t& actions, const ChildProcessLaunch& launch) {
    std::vector<Placement> placements;
    std::vector<int> nullDevices;
    for (const auto& [stream, target] : {std::pair{launch.standardInput, STDIN_FILENO},
                                         std::pair{launch.standardOutput, STDOUT_FILENO},
                                         std::pair{launch.standardError, STDERR_FILENO}}) {
        if (stream.isNullDevice())
            nullDevices.push_back(target);
        else if (!stream.isInherited())
            placements.push_back({stream.openDescriptor(), target});
    }
    int target = ChildProcessLaunch::firstPassedDescriptorNumber;
    for (int descriptor : launch.passedDescriptors)
        placements.push_back({descriptor, target++});
    if (int error = place(actions, placements))
        return error;
    for (int descriptor : nullDevices) {
        const int flags = descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY;
        if (int error =
                posix_spawn_file_actions_addopen(&actions, descriptor, "/dev/null", flags, 0))
            return error;
    }
    return 0;
}

// The host ignores SIGPIPE and may block signals; a tool must start with the defaults.
int resetSignals(posix_spawnattr_t& attributes) {
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    if (int error = posix_spawnattr_setsigdefault(&attributes, &all))
        return error;
    if (int error = posix_spawnattr_setsigmask(&attributes, &none))
        return error;
    return posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

int leadOwnProcessGroup(posix_spawnattr_t& attributes) {
    short flags = 0;
    if (int error = posix_spawnattr_getflags(&attributes, &flags))
        return error;
    if (int error = posix_spawnattr_setpgroup(&attributes, 0))
        return error;
    return posix_spawnattr_setflags(&attributes, static_cast<short>(flags | POSIX_SPAWN_SETPGROUP));
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& string : strings)
        result.push_back(string.data());
    result.push_back(nullptr);
    return result;
}

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
    SpawnSettings settings;
    if (int error = arrangeDescriptors(settings.actions, launch))
        return errnoCode(error);
    if (int error = resetSignals(settings.attributes))
        return errnoCode(error);
    if (launch.ownProcessGroup) {
        if (int error = leadOwnProcessGroup(settings.attributes))
            return errnoCode(error);
    }

    std::vector<std::string> argumentStrings = {launch.program};
    argumentStrings.insert(argumentStrings.end(), launch.arguments.begin(), launch.arguments.end());
    auto argv = pointers(argumentStrings);
    std::vector<std::string> environmentStrings =
        launch.environment.value_or(std::vector<std::string>{});
    auto envp = pointers(environmentStrings);

    pid_t pid = 0;
    const int error =
        posix_spawn(&pid, launch.program.c_str(), &settings.actions, &settings.attributes,
                    argv.data(), launch.environment ? envp.data() : environ);
    if (error != 0)
        return errnoCode(error);
    processJournal::noteChildProcess(pid);
    ChildProcess child(pid, openProcessDescriptor(pid));
    child.leadsProcessGroup_ = launch.ownProcessGroup;
    return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), processDescriptor_(std::move(other.processDescriptor_)), exit_(other.exit_),
      leadsProcessGroup_(other.leadsProcessGroup_) {
    other.pid_ = -1;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exit_) {
        kill(pid_, SIGKILL);
        reap(true);
    }
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
    const int termination = watchTermination ? terminationDescriptor() : -1;
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
    // The group keeps the child's number for as long as any of its members lives, so the
    // number cannot name another group by the time the rest is killed.
    const pid_t target = leadsProcessGroup_ ? -pid_ : pid_;
    kill(target, SIGTERM);
    if (auto ended = await(grace, false)) {
        if (leadsProcessGroup_)
            kill(target, SIGKILL);
        return *ended;
    }
    kill(target, SIGKILL);
    return *await(std::nullopt, false);
}

} // namespace brindle::platform
