#include "Platform/ChildProcess.h"

#include "Support/TemporaryDirectory.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace brindle::platform {
namespace {

using namespace std::chrono_literals;

ChildProcess shell(const std::string& script,
                   std::optional<std::vector<std::string>> environment = std::nullopt) {
    ChildProcessLaunch launch;
    launch.program = "/bin/sh";
    launch.arguments = {"-c", script};
    launch.environment = std::move(environment);
    auto child = ChildProcess::spawn(launch);
    if (!child)
        throw std::runtime_error("cannot start /bin/sh");
    return std::move(*child);
}

bool processExists(pid_t pid) {
    return kill(pid, 0) == 0 || errno != ESRCH;
}

TEST(ChildProcess, ReportsHowTheChildEnded) {
    EXPECT_EQ(shell("exit 0").waitForExit().exitCode, 0);
    const ChildExit failed = shell("exit 7").waitForExit();
    EXPECT_EQ(failed.exitCode, 7);
    EXPECT_FALSE(failed.succeeded());
    const ChildExit killed = shell("kill -KILL $$").waitForExit();
    EXPECT_EQ(killed.exitCode, -1);
    EXPECT_EQ(killed.terminatingSignal, SIGKILL);
}

TEST(ChildProcess, TimedWaitReturnsWhileTheChildRuns) {
    ChildProcess child = shell("exec sleep 600");
    EXPECT_EQ(child.waitForExit(10ms), std::nullopt);
    const ChildExit ended = child.terminate();
    EXPECT_EQ(ended.terminatingSignal, SIGTERM);
    EXPECT_FALSE(processExists(child.processIdentifier()));
    // Asking again after the end gives the same answer.
    EXPECT_EQ(child.waitForExit(10ms)->terminatingSignal, SIGTERM);
}

TEST(ChildProcess, ChildIgnoringTerminationIsKilledAfterTheGrace) {
    ChildProcess child = shell("trap '' TERM; echo > /dev/null; while :; do sleep 1; done");
    EXPECT_EQ(child.waitForExit(50ms), std::nullopt);
    EXPECT_EQ(child.terminate(100ms).terminatingSignal, SIGKILL);
}

TEST(ChildProcess, AbandonedChildIsKilledAndReaped) {
    pid_t pid = 0;
    {
        ChildProcess child = shell("exec sleep 600");
        pid = child.processIdentifier();
    }
    EXPECT_FALSE(processExists(pid));
}

TEST(ChildProcess, MissingProgramIsAStartFailure) {
    ChildProcessLaunch launch;
    launch.program = "/nonexistent/tool";
    errno = 0;
    EXPECT_EQ(ChildProcess::spawn(launch).has_value(), false);
    EXPECT_EQ(errno, ENOENT);
}

// Descriptors of this test process marked close-on-exec, by number, with what they refer to.
std::map<int, std::string> closeOnExecDescriptors() {
    std::map<int, std::string> descriptors;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int descriptor = std::stoi(entry.path().filename().string());
        const int flags = fcntl(descriptor, F_GETFD);
        std::error_code ignored;
        if (descriptor > 2 && flags >= 0 && (flags & FD_CLOEXEC) != 0)
            descriptors[descriptor] = std::filesystem::read_symlink(entry.path(), ignored).string();
    }
    return descriptors;
}

TEST(ChildProcess, OwnDescriptorsDoNotReachTheChild) {
    testing::TemporaryDirectory directory;
    const std::string listing = directory.file("fds");
    // A running sibling holds a process descriptor, which the next child must not see.
    ChildProcess sibling = shell("exec sleep 600");
    const auto ownDescriptors = closeOnExecDescriptors();
    EXPECT_TRUE(std::any_of(ownDescriptors.begin(), ownDescriptors.end(), [](const auto& entry) {
        return entry.second.find("pidfd") != std::string::npos;
    }));

    shell("ls /proc/$$/fd > '" + listing + "'").waitForExit();

    std::istringstream lines(testing::readFile(listing));
    std::set<int> childDescriptors;
    for (std::string line; std::getline(lines, line);)
        childDescriptors.insert(std::stoi(line));
    EXPECT_TRUE(childDescriptors.contains(0) && childDescriptors.contains(1) &&
                childDescriptors.contains(2));
    for (const auto& [descriptor, target] : ownDescriptors)
        EXPECT_FALSE(childDescriptors.contains(descriptor)) << descriptor << " " << target;
    sibling.terminate();
}

TEST(ChildProcess, EnvironmentCanBeReplaced) {
    EXPECT_EQ(
        shell("test \"$ONLY\" = this && test -z \"$HOME\"", std::vector<std::string>{"ONLY=this"})
            .waitForExit()
            .exitCode,
        0);
    setenv("BRINDLE_INHERITED", "yes", 1);
    EXPECT_EQ(shell("test \"$BRINDLE_INHERITED\" = yes").waitForExit().exitCode, 0);
    unsetenv("BRINDLE_INHERITED");
}

TEST(ChildProcess, ChildStartsWithDefaultSignalHandling) {
    // The host ignores SIGPIPE; a tool it starts must not inherit that.
    const auto previous = signal(SIGPIPE, SIG_IGN);
    const ChildExit ended = shell("kill -PIPE $$; exit 0").waitForExit();
    signal(SIGPIPE, previous);
    EXPECT_EQ(ended.terminatingSignal, SIGPIPE);
}

TEST(ChildProcess, OutputCanBeDiscarded) {
    ChildProcessLaunch launch;
    launch.program = "/bin/sh";
    launch.arguments = {"-c", "test \"$(readlink /proc/$$/fd/1)\" = /dev/null && "
                              "test \"$(readlink /proc/$$/fd/2)\" = /dev/null && "
                              "test \"$(readlink /proc/$$/fd/0)\" = /dev/null"};
    launch.standardInput = launch.standardOutput = launch.standardError = ChildStream::nullDevice;
    EXPECT_EQ(ChildProcess::spawn(launch)->waitForExit().exitCode, 0);
}

} // namespace
} // namespace brindle::platform
