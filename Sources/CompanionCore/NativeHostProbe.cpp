#include "CompanionCore/NativeHostProbe.h"

#include "MetadataCore/NativeMessageFrame.h"
#include "MetadataCore/ProductInfo.h"
#include "Platform/Processes.h"

#include <boost/json.hpp>

#include <chrono>
#include <stdexcept>
#include <system_error>

namespace brindle {

namespace {

using namespace std::chrono_literals;

constexpr auto terminationGrace = 500ms;

std::string requestFrame() {
    return nativeMessageFrame::encode(
        boost::json::serialize(boost::json::object{{"action", "ping"}}));
}

// The first frame of the reply; anything after it is not looked at.
std::string replyBody(const std::string& reply) {
    nativeMessageFrame::FrameDecoder decoder;
    decoder.append(reply);
    std::string body;
    if (decoder.next(body) != nativeMessageFrame::DecodeStatus::frame)
        throw ProbeError::invalidResponse();
    return body;
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
    platform::ChildProcessLaunch launch;
    launch.program = executable;
    // Nothing reads what the host says there; a pipe left unread could only stall it.
    launch.standardError = platform::ChildStream::nullDevice();
    // A hung host may have started programs of its own: the time-out ends them with it.
    launch.ownProcessGroup = true;
    const platform::ChildExchangeLimits limits{timeout, terminationGrace,
                                               nativeMessageFrame::headerSize +
                                                   nativeMessageFrame::maximumBodySize};
    const auto exchange = platform::exchangeWithChild(launch, requestFrame(), limits);
    if (!exchange)
        throw ProbeError::launch(exchange.error().message());
    if (exchange->inputError)
        throw std::system_error(exchange->inputError);
    if (exchange->timedOut)
        throw ProbeError::timeout();

    const std::string body = replyBody(exchange->standardOutput);
    boost::system::error_code parseError;
    const boost::json::value parsed = boost::json::parse(body, parseError);
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
