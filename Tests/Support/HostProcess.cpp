#include "Support/HostProcess.h"

#include "ResourceSourceHost/NativeMessaging.h"

#include <boost/beast/core/detail/base64.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace brindle::testing {

object json(std::string_view text) {
    return boost::json::parse(text).as_object();
}

std::string frameLength(uint32_t length) {
    return {char(length), char(length >> 8), char(length >> 16), char(length >> 24)};
}

std::string frame(const std::string& body) {
    return nativeMessageFrame::encode(body);
}

std::string frameJSON(const object& message) {
    return frame(boost::json::serialize(message));
}

Messages parseFrames(const std::string& stream) {
    Messages messages;
    nativeMessageFrame::FrameDecoder decoder;
    decoder.append(stream);
    std::string body;
    while (decoder.next(body) == nativeMessageFrame::DecodeStatus::frame)
        messages.push_back(json(body));
    if (!decoder.isEmpty())
        ADD_FAILURE() << "partial frame after " << messages.size() << " frames";
    return messages;
}

namespace {

platform::ChildProcess spawn(const std::string& program, int input, int output, int error,
                             const ProcessOptions& options) {
    const auto stream = [](int file) {
        return platform::ChildStream::descriptor(platform::DescriptorRef::borrowing(file));
    };
    platform::ChildProcessLaunch launch;
    launch.program = program;
    launch.arguments = options.arguments;
    launch.standardInput = stream(input);
    launch.standardOutput = stream(output);
    launch.standardError = stream(error);
    launch.environment = platform::environmentWith(options.environment);
    return platform::ChildProcess::spawn(launch).value();
}

// Files rather than pipes for the ordinary streams: no deadlock however much either side writes.
platform::FileDescriptor inputFile(const std::string& path, const std::string& contents) {
    writeFile(path, contents);
    return platform::openRegularFile(path).value().descriptor;
}

platform::FileDescriptor outputFile(const std::string& path) {
    return platform::createExclusiveFile(path, 0600).value();
}

} // namespace

std::pair<platform::FileDescriptor, platform::FileDescriptor> makePipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    return {platform::FileDescriptor(ends[0]), platform::FileDescriptor(ends[1])};
}

platform::ChildProcess startHost(int input, int output, const ProcessOptions& options) {
    return spawn(BRINDLE_HOST_PATH, input, output, STDERR_FILENO, options);
}

ProcessResult runProcess(const std::string& program, const std::string& input,
                         const ProcessOptions& options) {
    TemporaryDirectory scratch;
    const auto in = inputFile(scratch.file("stdin"), input);
    // A pipe whose reading end is closed as soon as it is made.
    const auto out =
        options.closeStandardOutput ? makePipe().second : outputFile(scratch.file("stdout"));
    const auto error = outputFile(scratch.file("stderr"));
    const platform::ChildExit exit =
        spawn(program, in.get(), out.get(), error.get(), options).waitForExit();
    return {exit.exitCode, exit.terminatingSignal, readFile(scratch.file("stdout")),
            readFile(scratch.file("stderr"))};
}

Messages hostReplies(const std::string& input, const ProcessOptions& options) {
    const ProcessResult result = runProcess(BRINDLE_HOST_PATH, input, options);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardError, "");
    return parseFrames(result.standardOutput);
}

Messages exchange(const Messages& requests, const ProcessOptions& options) {
    std::string input;
    for (const auto& request : requests)
        input += frameJSON(request);
    return hostReplies(input, options);
}

std::string base64Text(std::string_view bytes) {
    namespace base64 = boost::beast::detail::base64;
    std::string text(base64::encoded_size(bytes.size()), '\0');
    text.resize(base64::encode(text.data(), bytes.data(), bytes.size()));
    return text;
}

Messages uploadRequests(const std::string& id, const std::string& bytes, size_t chunkBytes) {
    Messages requests = {{{"action", "beginDirectSaveUpload"}, {"requestId", id}}};
    for (size_t offset = 0; offset < bytes.size(); offset += chunkBytes)
        requests.push_back(
            {{"action", "appendDirectSaveUpload"},
             {"requestId", id},
             {"chunkIndex", offset / chunkBytes},
             {"data", base64Text(std::string_view(bytes).substr(offset, chunkBytes))}});
    return requests;
}

object commitRequest(const std::string& id, size_t bytes, int chunks, const std::string& folder,
                     const std::string& name, object extra) {
    extra.insert({{"action", "commitDirectSaveUpload"},
                  {"requestId", id},
                  {"totalBytes", bytes},
                  {"chunkCount", chunks},
                  {"destinationDirectory", folder},
                  {"destinationFilename", name},
                  {"resourceUrl", "https://example.com/a"}});
    return extra;
}

HostSession::HostSession(const ProcessOptions& options) {
    auto input = makePipe(), output = makePipe();
    toHost_ = std::move(input.second);
    fromHost_ = std::move(output.first);
    process_.emplace(startHost(input.first.get(), output.second.get(), options));
}

void HostSession::send(const object& request) {
    writeAll(frameJSON(request), toHost_.get());
}

object HostSession::receive() {
    nativeMessageFrame::FrameDecoder decoder;
    std::string body;
    while (decoder.next(body) != nativeMessageFrame::DecodeStatus::frame) {
        std::string buffer(decoder.missingBytes(), '\0');
        const auto count = platform::readSome(fromHost_, buffer.data(), buffer.size());
        if (!count || *count == 0)
            throw std::runtime_error("the host's reply ended early");
        decoder.append(std::string_view(buffer.data(), *count));
    }
    return json(body);
}

object HostSession::ask(const object& request) {
    send(request);
    return receive();
}

Messages runHostLoop(const std::string& input, const RequestHandler& handler) {
    TemporaryDirectory scratch;
    const auto in = inputFile(scratch.file("in"), input);
    EXPECT_EQ(brindle::runHost(in.get(), outputFile(scratch.file("out")).get(), handler), 0);
    return parseFrames(readFile(scratch.file("out")));
}

} // namespace brindle::testing
