#include "ChildLaunch.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brindle::platform {
namespace {

struct Placement {
    int source; // this program's descriptor
    int target; // its number in the child
};

// Everything the child does between its start and exec, prepared beforehand: until exec it
// shares this program's memory (vfork), so it may only make system calls, never allocate.
// posix_spawn would do the same, but offers no way to tie the child's life to this program's.
struct ChildPlan {
    const char* program = nullptr;
    char* const* arguments = nullptr;
    char* const* environment = nullptr;
    std::vector<Placement> placements;
    int scratchBase = STDERR_FILENO + 1; // above every number involved
    std::vector<int> nullDevices;        // the standard streams that read or write nothing
    rlim_t memoryLimit = RLIM_INFINITY;
    bool ownProcessGroup = false;
    pid_t parent = 0;
};

// The reason is left for the parent, which vfork resumes only once the child has gone.
[[noreturn]] void failWith(volatile int& failure, int error) noexcept {
    failure = error;
    _exit(127);
}

// Ends in exec, or in `failWith`.
[[noreturn]] void becomeChild(const ChildPlan& plan, volatile int& failure) noexcept {
    // The child dies with the thread that started it, even when this program is killed outright.
    // A parent already gone by then has handed it to another, which no signal will come from.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
        failWith(failure, errno);
    if (getppid() != plan.parent)
        _exit(127);

    // The host ignores SIGPIPE and holds termination signals back; a tool starts with the
    // defaults. (SIGKILL, SIGSTOP and the C library's own signals refuse the change.)
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        sigaction(signal, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    if (plan.memoryLimit != RLIM_INFINITY) {
        rlimit limit{};
        getrlimit(RLIMIT_DATA, &limit);
        limit.rlim_cur = limit.rlim_max = std::min(limit.rlim_max, plan.memoryLimit);
        if (setrlimit(RLIMIT_DATA, &limit) != 0)
            failWith(failure, errno);
    }
    if (plan.ownProcessGroup && setpgid(0, 0) != 0)
        failWith(failure, errno);

    // Each descriptor is first copied above every number involved, then to its place, so that no
    // copy overwrites one still to be copied. dup2 clears close-on-exec on the copies, so exactly
    // these reach the program.
    const int count = static_cast<int>(plan.placements.size());
    for (int index = 0; index < count; ++index) {
        if (dup2(plan.placements[index].source, plan.scratchBase + index) < 0)
            failWith(failure, errno);
    }
    for (int index = 0; index < count; ++index) {
        if (dup2(plan.scratchBase + index, plan.placements[index].target) < 0)
            failWith(failure, errno);
        close(plan.scratchBase + index);
    }
    for (const int target : plan.nullDevices) {
        const int device = open("/dev/null", target == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (device < 0)
            failWith(failure, errno);
        if (device != target && dup2(device, target) < 0)
            failWith(failure, errno);
        if (device != target)
            close(device);
    }
    execve(plan.program, plan.arguments, plan.environment);
    failWith(failure, errno);
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& string : strings)
        result.push_back(string.data());
    result.push_back(nullptr);
    return result;
}

void planDescriptors(ChildPlan& plan, const ChildProcessLaunch& launch) {
    for (const auto& [stream, target] : {std::pair{launch.standardInput, STDIN_FILENO},
                                         std::pair{launch.standardOutput, STDOUT_FILENO},
                                         std::pair{launch.standardError, STDERR_FILENO}}) {
        if (stream.isNullDevice())
            plan.nullDevices.push_back(target);
        else if (!stream.isInherited())
            plan.placements.push_back({stream.openDescriptor().get(), target});
    }
    int target = ChildProcessLaunch::firstPassedDescriptorNumber;
    for (const DescriptorRef descriptor : launch.passedDescriptors)
        plan.placements.push_back({descriptor.get(), target++});
    for (const Placement& placement : plan.placements)
        plan.scratchBase = std::max({plan.scratchBase, placement.source + 1, placement.target + 1});
}

} // namespace

Result<pid_t> startChild(const ChildProcessLaunch& launch) {
    std::vector<std::string> argumentStrings = {launch.program};
    argumentStrings.insert(argumentStrings.end(), launch.arguments.begin(), launch.arguments.end());
    auto arguments = pointers(argumentStrings);
    std::vector<std::string> environmentStrings =
        launch.environment.value_or(std::vector<std::string>{});
    auto environment = pointers(environmentStrings);

    ChildPlan plan;
    plan.program = launch.program.c_str();
    plan.arguments = arguments.data();
    plan.environment = launch.environment ? environment.data() : environ;
    planDescriptors(plan, launch);
    if (launch.memoryLimitBytes)
        plan.memoryLimit = static_cast<rlim_t>(*launch.memoryLimitBytes);
    plan.ownProcessGroup = launch.ownProcessGroup;
    plan.parent = getpid();

    // No handler of this program may run in the child while it borrows this program's memory.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    volatile int failure = 0;
    const pid_t pid = vfork();
    if (pid == 0)
        becomeChild(plan, failure);
    const int startError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0)
        return errnoCode(startError);
    if (failure != 0) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return errnoCode(failure);
    }
    return pid;
}

} // namespace brindle::platform
