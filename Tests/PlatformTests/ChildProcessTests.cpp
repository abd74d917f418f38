#include "Platform/Processes.h"

#include "Support/TemporaryDirectory.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>

namespace brindle::platform {
namespace {

using namespace std::chrono_literals;

ChildProcess shell(const std::string& script, ChildProcessLaunch launch = {}) {
    launch.program = "/bin/sh";
    launch.arguments = {"-c", script};
    return std::move(ChildProcess::spawn(launch).value());
}

bool processExists(pid_t pid) {
    return kill(pid, 0) == 0 || errno != ESRCH;
}

TEST(ChildProcess, StartsWithTheDefaultsAndReportsHowItEnded) {
    // The host ignores SIGPIPE; a tool it starts must not inherit that.
    const auto previous = signal(SIGPIPE, SIG_IGN);
    const std::tuple<std::string, int, int> endings[] = {{"exit 0", 0, 0},
                                                         {"exit 7", 7, 0},
                                                         {"kill -KILL $$", -1, SIGKILL},
                                                         {"kill -PIPE $$; exit 0", -1, SIGPIPE}};
    for (const auto& [script, code, stop] : endings) {
        const ChildExit exit = shell(script).waitForExit();
        EXPECT_EQ(std::tuple(script, exit.exitCode, exit.terminatingSignal, exit.succeeded()),
                  std::tuple(script, code, stop, code == 0));
    }
    signal(SIGPIPE, previous);
    ChildProcessLaunch missing;
    missing.program = "/nonexistent/tool";
    EXPECT_EQ(ChildProcess::spawn(missing).error(), std::errc::no_such_file_or_directory);

    // An environment given replaces this process's own; that the own one is inherited otherwise
    // shows in the media tools' tests, whose stand-ins read a variable those tests set.
    setenv("HOME", "/", 0);
    ChildProcessLaunch onlyThis;
    onlyThis.environment = std::vector<std::string>{"ONLY=this"};
    EXPECT_TRUE(
        shell("test \"$ONLY\" = this && test -z \"$HOME\"", onlyThis).waitForExit().succeeded());
}

TEST(ChildProcess, RunningChildIsWaitedForTerminatedOrKilled) {
    ChildProcess child = shell("exec sleep 600");
    EXPECT_EQ(child.waitForExit(10ms), std::nullopt);
    EXPECT_EQ(child.terminate().terminatingSignal, SIGTERM);
    EXPECT_FALSE(processExists(child.processIdentifier()));

    // A child ignoring termination is killed after the grace.
    ChildProcess stubborn = shell("trap '' TERM; echo > /dev/null; while :; do sleep 1; done");
    EXPECT_EQ(stubborn.waitForExit(50ms), std::nullopt);
    EXPECT_EQ(stubborn.terminate(100ms).terminatingSignal, SIGKILL);

    // An abandoned child is killed and reaped.
    const pid_t abandoned = shell("exec sleep 600").processIdentifier();
    EXPECT_FALSE(processExists(abandoned));
}

TEST(ChildProcess, StreamsAndPassedDescriptorsAloneGoWhereTheyAreSent) {
    testing::TemporaryDirectory directory;
    testing::writeFile(directory.file("one"), "one ");
    testing::writeFile(directory.file("two"), "two");
    const auto openFile = [&](const char* name, int flags) {
        return FileDescriptor(open(directory.file(name).c_str(), flags | O_CLOEXEC, 0600));
    };
    const FileDescriptor one = openFile("one", O_RDONLY), two = openFile("two", O_RDONLY);
    const FileDescriptor output = openFile("output", O_WRONLY | O_CREAT);
    // Neither a file this process holds nor a running sibling's process descriptor gets through.
    const FileDescriptor held = openFile("held", O_WRONLY | O_CREAT);
    ChildProcess sibling = shell("exec sleep 600");
    ChildProcessLaunch launch;
    launch.standardInput = launch.standardError = ChildStream::nullDevice();
    launch.standardOutput = ChildStream::descriptor(output);
    // In the reverse order, so that each may well take the other's number in the child.
    launch.passedDescriptors = {two, one};
    const ChildExit exit = shell("test \"$(readlink /proc/$$/fd/0)\" = /dev/null && "
                                 "test \"$(readlink /proc/$$/fd/2)\" = /dev/null && "
                                 "cat /dev/fd/3 /dev/fd/4 && ls -l /proc/$$/fd > '" +
                                     directory.file("listing") + "'; true",
                                 launch)
                               .waitForExit();
    EXPECT_EQ(exit.exitCode, 0);
    EXPECT_GT(exit.peakResidentKiB, 0);
    EXPECT_EQ(testing::readFile(directory.file("output")), "twoone ");
    // Each file reaches the child once: the copies made on the way to the numbers given do not.
    const std::string listing = testing::readFile(directory.file("listing"));
    for (const std::string& target : {std::string("pidfd"), directory.file("held")})
        EXPECT_EQ(listing.find(target), std::string::npos) << listing;
    for (const char* name : {"one", "two", "output"}) {
        const std::string target = "-> " + directory.file(name) + "\n";
        const std::size_t first = listing.find(target);
        EXPECT_NE(first, std::string::npos) << listing;
        EXPECT_EQ(listing.find(target, first + 1), std::string::npos) << listing;
    }
}

} // namespace
} // namespace brindle::platform
