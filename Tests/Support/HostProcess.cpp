#include "Support/HostProcess.h"

#include "Support/TemporaryDirectory.h"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brindle::testing {

std::string frameLength(uint32_t length) {
    std::string header(4, '\0');
    for (int i = 0; i < 4; ++i)
        header[i] = static_cast<char>((length >> (8 * i)) & 0xff);
    return header;
}

std::string frame(const std::string& body) {
    return frameLength(static_cast<uint32_t>(body.size())) + body;
}

std::string frameJSON(const boost::json::object& message) {
    return frame(boost::json::serialize(message));
}

std::vector<boost::json::object> parseFrames(const std::string& stream) {
    std::vector<boost::json::object> messages;
    size_t offset = 0;
    while (offset < stream.size()) {
        if (stream.size() - offset < 4) {
            ADD_FAILURE() << "partial header at offset " << offset;
            break;
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(stream.data() + offset);
        const size_t length = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | size_t(bytes[3]) << 24;
        offset += 4;
        if (stream.size() - offset < length) {
            ADD_FAILURE() << "partial body at offset " << offset;
            break;
        }
        messages.push_back(boost::json::parse(stream.substr(offset, length)).as_object());
        offset += length;
    }
    return messages;
}

ProcessResult runProcess(const std::string& program, const std::string& input,
                         const ProcessOptions& options) {
    // Files rather than pipes for the ordinary streams: no deadlock however much either side
    // writes.
    TemporaryDirectory scratch;
    writeFile(scratch.file("stdin"), input);
    const int inputFd = open(scratch.file("stdin").c_str(), O_RDONLY | O_CLOEXEC);
    const int outputFd = open(scratch.file("stdout").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int errorFd = open(scratch.file("stderr").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    int closedPipe[2] = {-1, -1};
    if (options.closeStandardOutput) {
        if (pipe2(closedPipe, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
        close(closedPipe[0]);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inputFd, 0);
    posix_spawn_file_actions_adddup2(&actions,
                                     options.closeStandardOutput ? closedPipe[1] : outputFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errorFd, 2);

    // env(1) adds the requested variables to the test's own environment, then runs the program.
    std::vector<std::string> arguments{"/usr/bin/env"};
    for (const auto& [name, value] : options.environment)
        arguments.push_back(name + "=" + value);
    arguments.push_back(program);
    arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawnError = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(inputFd);
    close(outputFd);
    close(errorFd);
    if (closedPipe[1] >= 0)
        close(closedPipe[1]);
    if (spawnError != 0)
        throw std::runtime_error("cannot start " + program);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProcessResult result;
    if (WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result.terminatingSignal = WTERMSIG(status);
    result.standardOutput = readFile(scratch.file("stdout"));
    result.standardError = readFile(scratch.file("stderr"));
    return result;
}

ProcessResult runHost(const std::string& input, const ProcessOptions& options) {
    return runProcess(BRINDLE_HOST_PATH, input, options);
}

std::vector<boost::json::object> exchange(const std::vector<boost::json::object>& requests,
                                          const ProcessOptions& options) {
    std::string input;
    for (const auto& request : requests)
        input += frameJSON(request);
    const ProcessResult result = runHost(input, options);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardError, "");
    return parseFrames(result.standardOutput);
}

boost::json::object singleReply(const boost::json::object& request, const ProcessOptions& options) {
    const auto replies = exchange({request}, options);
    EXPECT_EQ(replies.size(), 1u);
    return replies.empty() ? boost::json::object{} : replies.front();
}

} // namespace brindle::testing
