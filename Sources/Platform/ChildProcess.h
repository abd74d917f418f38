#pragma once

#include "Platform/FileDescriptor.h"
#include "Platform/Result.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brindle::platform {

/// Where one of a child's standard streams goes: this program's own, the null device, or an open
/// descriptor of this program (a file or one end of a pipe), which stays the caller's to close.
class ChildStream {
public:
    static ChildStream inherited() { return ChildStream(-1, false); }
    static ChildStream nullDevice() { return ChildStream(-1, true); }
    static ChildStream descriptor(int descriptor) { return ChildStream(descriptor, false); }

    bool isInherited() const { return descriptor_ < 0 && !nullDevice_; }
    bool isNullDevice() const { return nullDevice_; }
    int openDescriptor() const { return descriptor_; }

private:
    ChildStream(int descriptor, bool nullDevice)
        : descriptor_(descriptor), nullDevice_(nullDevice) {}
    int descriptor_;
    bool nullDevice_;
};

/// What to start: the program (an absolute path; no search path is used) and argv[1...].
struct ChildProcessLaunch {
    std::string program;
    std::vector<std::string> arguments;
    ChildStream standardInput = ChildStream::inherited();
    ChildStream standardOutput = ChildStream::inherited();
    ChildStream standardError = ChildStream::inherited();
    /// Open descriptors of this program that the child receives as its descriptors 3, 4, ... in
    /// this order, so that it can read a file that was opened and checked here as "/dev/fd/3"
    /// instead of opening a path that may name another file by then.
    std::vector<int> passedDescriptors;
    static constexpr int firstPassedDescriptorNumber = 3;
    /// "NAME=value" entries replacing the environment; nothing inherits the caller's.
    std::optional<std::vector<std::string>> environment;
    /// The most private memory (heap, stacks, writable data) the child may hold: an allocation
    /// beyond it fails. None: the limit this program has itself.
    std::optional<std::uint64_t> memoryLimitBytes;
    /// The child leads a process group of its own, and whatever it starts there is ended with it
    /// when it is terminated or killed from here.
    bool ownProcessGroup = false;
};

/// How a child ended.
struct ChildExit {
    int exitCode = -1;         // -1 when it was ended by a signal
    int terminatingSignal = 0; // 0 when it exited by itself
    long peakResidentKiB = 0;  // the child's own peak resident memory
    bool succeeded() const { return exitCode == 0; }
};

/// A running child process. It receives only its standard streams and the passed descriptors
/// (every descriptor of this program is close-on-exec), with default signal handling and an
/// empty signal mask. Its exit is watched through a process descriptor, so a wait ends the
/// moment the child does. A child still running when its owner goes away is killed and reaped,
/// never left as a zombie; and it is killed when the thread that started it ends, this program
/// killed outright included (SIGKILL leaves no time to end it). So a child is owned and waited
/// for by the thread that starts it, never handed to a longer-lived one.
class ChildProcess {
public:
    /// Starts the child; fails when the program is missing or not executable, or for want of
    /// resources. Throws `TerminationRequested` instead once this process is asked to end.
    static Result<ChildProcess> spawn(const ChildProcessLaunch& launch);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t processIdentifier() const { return pid_; }

    /// Waits at most `timeout` for the child to end; nothing when it is still running. Once this
    /// process has been asked to end, the child is terminated and reaped and the wait throws
    /// `TerminationRequested`.
    std::optional<ChildExit> waitForExit(std::chrono::milliseconds timeout);

    /// Waits for the child to end, however long it takes; ends early as the other wait does.
    ChildExit waitForExit();

    /// Asks the child to end (SIGTERM); a child that is still there after `grace` is killed.
    /// Returns once it has ended.
    ChildExit terminate(std::chrono::milliseconds grace = std::chrono::seconds(2));

    /// Kills the child at once (SIGKILL) and returns once it has ended.
    ChildExit kill();

private:
    ChildProcess(pid_t pid, FileDescriptor processDescriptor, bool leadsGroup)
        : pid_(pid), processDescriptor_(std::move(processDescriptor)), leadsGroup_(leadsGroup) {}
    // Sent to the whole group the child leads, if it leads one.
    void signal(int number) const;
    std::optional<ChildExit> reap(bool block);
    // No `timeout`: for as long as it takes.
    std::optional<ChildExit> await(std::optional<std::chrono::milliseconds> timeout,
                                   bool watchTermination);

    pid_t pid_;
    FileDescriptor processDescriptor_; // none when the kernel offers none: waits then poll
    bool leadsGroup_;
    std::optional<ChildExit> exit_;
};

} // namespace brindle::platform
