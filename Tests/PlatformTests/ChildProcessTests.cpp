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

TEST(ChildProcess, RunningChildIsWaitedForTerminatedOrKilled) {
    ChildProcess child = shell("exec sleep 600");
    EXPECT_EQ(child.waitForExit(10ms), std::nullopt);
    EXPECT_EQ(child.terminate().terminatingSignal, SIGTERM);
    EXPECT_FALSE(processExists(child.processIdentifier()));
    // Asking again after the end gives the same answer.
    EXPECT_EQ(child.waitForExit(10ms)->terminatingSignal, SIGTERM);

    // A child ignoring termination is killed after the grace.
    ChildProcess stubborn = shell("trap '' TERM; echo > /dev/null; while :; do sleep 1; done");
    EXPECT_EQ(stubborn.waitForExit(50ms), std::nullopt);
    EXPECT_EQ(stubborn.terminate(100ms).terminatingSignal, SIGKILL);

    // An abandoned child is killed and reaped.
    pid_t pid = 0;
    {
        ChildProcess abandoned = shell("exec sleep 600");
        pid = abandoned.processIdentifier();
    }
    EXPECT_FALSE(processExists(pid));
}

TEST(ChildProcess, MissingProgramIsAStartFailure) {
    ChildProcessLaunch launch;
    launch.program = "/nonexistent/tool";
    const auto child = ChildProcess::spawn(launch);
    ASSERT_FALSE(child);
    EXPECT_EQ(child.error(), std::errc::no_such_file_or_directory);
}

TEST(ChildProcess, OwnDescriptorsDoNotReachTheChild) {
    testing::TemporaryDirectory directory;
    // A running sibling holds a process descriptor, which the next child must not see either.
    ChildProcess sibling = shell("exec sleep 600");
    std::map<int, std::string> own; // close-on-exec descriptors of this process, with targets
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int descriptor = std::stoi(entry.path().filename().string());
        const int flags = fcntl(descriptor, F_GETFD);
        std::error_code ignored;
        if (descriptor > 2 && flags >= 0 && (flags & FD_CLOEXEC) != 0)
            own[descriptor] = std::filesystem::read_symlink(entry.path(), ignored).string();
    }
    EXPECT_TRUE(std::any_of(own.begin(), own.end(), [](const auto& entry) {
        return entry.second.find("pidfd") != std::string::npos;
    }));

    shell("ls /proc/$$/fd > '" + directory.file("fds") + "'").waitForExit();

    std::istringstream lines(testing::readFile(directory.file("fds")));
    std::set<int> inherited;
    for (std::string line; std::getline(lines, line);)
        inherited.insert(std::stoi(line));
    EXPECT_TRUE(inherited.contains(0) && inherited.contains(1) && inherited.contains(2));
    for (const auto& [descriptor, target] : own)
        EXPECT_FALSE(inherited.contains(descriptor)) << descriptor << " " << target;
}

TEST(ChildProcess, EnvironmentIsInheritedUnlessReplaced) {
    setenv("BRINDLE_INHERITED", "yes", 1);
    EXPECT_TRUE(shell("test \"$BRINDLE_INHERITED\" = yes").waitForExit().succeeded());
    EXPECT_TRUE(shell("test \"$ONLY\" = this && test -z \"$BRINDLE_INHERITED\"",
                      std::vector<std::string>{"ONLY=this"})
                    .waitForExit()
                    .succeeded());
    unsetenv("BRINDLE_INHERITED");
}

TEST(ChildProcess, ChildStartsWithDefaultSignalHandling) {
    // The host ignores SIGPIPE; a tool it starts must not inherit that.
    const auto previous = signal(SIGPIPE, SIG_IGN);
    const ChildExit ended = shell("kill -PIPE $$; exit 0").waitForExit();
    signal(SIGPIPE, previous);
    EXPECT_EQ(ended.terminatingSignal, SIGPIPE);
}

TEST(ChildProcess, StreamsAndPassedDescriptorsGoWhereTheyAreSent) {
    ChildProcessLaunch launch;
    launch.program = "/bin/sh";
    launch.arguments = {"-c", "test \"$(readlink /proc/$$/fd/0)\" = /dev/null && "
                              "test \"$(readlink /proc/$$/fd/2)\" = /dev/null && "
                              "cat /dev/fd/3 /dev/fd/4 && test ! -e /proc/$$/fd/5"};
    launch.standardInput = launch.standardError = ChildStream::nullDevice();
    int first[2];
    int second[2];
    int output[2];
    ASSERT_EQ(pipe2(first, O_CLOEXEC) | pipe2(second, O_CLOEXEC) | pipe2(output, O_CLOEXEC), 0);
    ASSERT_EQ(write(first[1], "one ", 4) + write(second[1], "two", 3), 7);
    close(first[1]);
    close(second[1]);
    // In the reverse order, so that the child's 3 may well be the first pipe's number here.
    launch.passedDescriptors = {second[0], first[0]};
    launch.standardOutput = ChildStream::descriptor(output[1]);
    auto child = ChildProcess::spawn(launch);
    ASSERT_TRUE(child);
    close(output[1]);
    std::string received;
    char buffer[16];
    for (ssize_t count; (count = read(output[0], buffer, sizeof buffer)) > 0;)
        received.append(buffer, static_cast<size_t>(count));
    const ChildExit exit = child->waitForExit();
    EXPECT_EQ(exit.exitCode, 0);
    EXPECT_GT(exit.peakResidentKiB, 0);
    EXPECT_EQ(received, "twoone ");
    close(first[0]);
    close(second[0]);
    close(output[0]);
}

} // namespace
} // namespace brindle::platform
