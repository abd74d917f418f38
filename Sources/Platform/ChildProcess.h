#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brindle::platform {

/// Where one of a child's standard streams goes.
enum class ChildStream { inherited, nullDevice };

/// What to start: the program (an absolute path; no search path is used) and argv[1...].
struct ChildProcessLaunch {
    std::string program;
    std::vector<std::string> arguments;
    ChildStream standardInput = ChildStream::inherited;
    ChildStream standardOutput = ChildStream::inherited;
    ChildStream standardError = ChildStream::inherited;
    /// "NAME=value" entries replacing the environment; nothing inherits the caller's.
    std::optional<std::vector<std::string>> environment;
    /// A descriptor of this process that the child gets as `handedDescriptorNumber`, so that a
    /// tool can be made to read "/dev/fd/3": the very file this process opened, not whatever a
    /// path names by the time the tool opens it.
    std::optional<int> handedDescriptor;
    static constexpr int handedDescriptorNumber = 3;
};

/// How a child ended.
struct ChildExit {
    int exitCode = -1;         // -1 when it was ended by a signal
    int terminatingSignal = 0; // 0 when it exited by itself
    bool succeeded() const { return exitCode == 0; }
};

/// A running child process. It receives only descriptors 0 to 2 and the one handed to it (every
/// descriptor of this program is close-on-exec), with default signal handling and an empty signal
/// mask. Its exit is watched through a process descriptor, so a wait ends the moment the child
/// does. A child still running when its owner goes away is killed and reaped, never left as a
/// zombie.
class ChildProcess {
public:
    /// Starts the child; on failure (no such program, not executable, no resources) returns
    /// nothing and leaves the reason in errno.
    static std::optional<ChildProcess> spawn(const ChildProcessLaunch& launch);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t processIdentifier() const { return pid_; }

    /// Waits at most `timeout` for the child to end; nothing when it is still running.
    std::optional<ChildExit> waitForExit(std::chrono::milliseconds timeout);

    /// Waits for the child to end, however long it takes.
    ChildExit waitForExit();

    /// Asks the child to end (SIGTERM); a child that is still there after `grace` is killed.
    /// Returns once it has ended.
    ChildExit terminate(std::chrono::milliseconds grace = std::chrono::seconds(2));

private:
    ChildProcess(pid_t pid, int processDescriptor)
        : pid_(pid), processDescriptor_(processDescriptor) {}
    std::optional<ChildExit> reap(bool block);

    pid_t pid_;
    int processDescriptor_; // -1 when the kernel offers none: waits then fall back to polling
    std::optional<ChildExit> exit_;
};

} // namespace brindle::platform
