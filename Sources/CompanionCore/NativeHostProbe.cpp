#include "CompanionCore/NativeHostProbe.h"

#include "MetadataCore/ProductInfo.h"
#include "Platform/ChildProcess.h"
#include "Platform/FileWriting.h"

#include <boost/json.hpp>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace brindle {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using platform::FileDescriptor;

constexpr auto terminationGrace = 500ms;
constexpr auto exitPollInterval = 20ms;
// A ping reply is a few hundred bytes; the host's replies never come near this.
constexpr std::size_t maximumReplyBytes = 1 << 20;

struct Pipe {
    FileDescriptor reading;
    FileDescriptor writing;
};

Pipe makePipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        throw ProbeError::launch(platform::lastErrnoCode().message());
    return {FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

std::string requestFrame() {
    const std::string body = boost::json::serialize(boost::json::object{{"action", "ping"}});
    const auto length = static_cast<std::uint32_t>(body.size());
    std::string frame;
    for (int shift = 0; shift < 32; shift += 8)
        frame += static_cast<char>((length >> shift) & 0xFF);
    return frame + body;
}

// A host that has already gone makes the write fail with EPIPE; the signal that comes with it
// must not end the companion, whatever its own SIGPIPE disposition.
platform::Result<> writeWithoutSIGPIPE(int descriptor, std::string_view bytes) {
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    platform::Result<> written = platform::writeAll(descriptor, bytes);
    if (!written && written.error() == std::errc::broken_pipe) {
        const timespec noWait{0, 0};
        sigtimedwait(&pipeSignal, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return written;
}

// Reads whatever is there without waiting; true once the other end is closed.
bool drain(int descriptor, std::string& output) {
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(descriptor, buffer, sizeof buffer);
        if (count > 0) {
            if (output.size() < maximumReplyBytes)
                output.append(buffer, static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        return count == 0;
    }
}

// The reply is read while the host runs, so that a long one cannot fill the pipe and stall it.
// A host that has exited while something it started still holds the pipe is not waited for.
std::string collectReply(platform::ChildProcess& host, int output,
                         std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string reply;
    bool closed = false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) {
            host.terminate(terminationGrace);
            throw ProbeError::timeout();
        }
        if (!closed) {
            pollfd watch{output, POLLIN, 0};
            poll(&watch, 1, static_cast<int>(std::min(left, exitPollInterval).count()));
            closed = drain(output, reply);
        }
        if (host.waitForExit(closed ? std::min(left, exitPollInterval) : 0ms)) {
            drain(output, reply);
            return reply;
        }
    }
}

std::uint32_t littleEndianLength(std::string_view bytes) {
    std::uint32_t length = 0;
    for (int index = 3; index >= 0; --index)
        length = length << 8 | static_cast<unsigned char>(bytes[static_cast<std::size_t>(index)]);
    return length;
}

} // namespace

ProbeError ProbeError::launch(const std::string& reason) {
    return {Case::launch, "本机组件无法启动：" + reason};
}

ProbeError ProbeError::rejected(const std::string& message) {
    return {Case::rejected, message};
}

ProbeError ProbeError::timeout() {
    return {Case::timeout, "本机组件没有及时响应"};
}

ProbeError ProbeError::invalidResponse() {
    return {Case::invalidResponse, "本机组件返回了无效信息"};
}

std::string NativeHostProbe::version(const std::string& executable,
                                     std::chrono::milliseconds timeout) {
    Pipe input = makePipe();
    Pipe output = makePipe();
    platform::ChildProcessLaunch launch;
    launch.program = executable;
    launch.standardInput = platform::ChildStream::descriptor(input.reading.get());
    launch.standardOutput = platform::ChildStream::descriptor(output.writing.get());
    // Nothing reads what the host says there; a pipe left unread could only stall it.
    launch.standardError = platform::ChildStream::nullDevice();
    // A hung host may have started programs of its own: the time-out ends them with it.
    launch.ownProcessGroup = true;
    auto host = platform::ChildProcess::spawn(launch);
    if (!host)
        throw ProbeError::launch(host.error().message());
    input.reading.close();
    output.writing.close();
    fcntl(output.reading.get(), F_SETFL, O_NONBLOCK);

    // A host that is gone before reading (a crash at start) answers with what it wrote, if
    // anything: the broken pipe alone would depend on how fast it went.
    if (auto written = writeWithoutSIGPIPE(input.writing.get(), requestFrame());
        !written && written.error() != std::errc::broken_pipe)
        throw std::system_error(written.error());
    input.writing.close();
    const std::string reply = collectReply(*host, output.reading.get(), timeout);

    if (reply.size() < 4)
        throw ProbeError::invalidResponse();
    const std::uint32_t length = littleEndianLength(reply);
    if (length == 0 || reply.size() - 4 < length)
        throw ProbeError::invalidResponse();
    boost::system::error_code parseError;
    const boost::json::value parsed =
        boost::json::parse(std::string_view(reply).substr(4, length), parseError);
    if (parseError)
        throw std::runtime_error(parseError.message());
    const auto* object = parsed.if_object();
    if (object == nullptr)
        throw ProbeError::invalidResponse();
    const auto* ok = object->if_contains("ok");
    if (ok != nullptr && ok->is_bool() && ok->get_bool()) {
        const auto* version = object->if_contains("version");
        if (version != nullptr && version->is_string())
            return std::string(version->get_string());
        return std::string(KavoProduct::version);
    }
    const auto* error = object->if_contains("error");
    if (error != nullptr && error->is_string())
        throw ProbeError::rejected(std::string(error->get_string()));
    throw ProbeError::rejected("本机组件自检失败");
}

} // namespace brindle
