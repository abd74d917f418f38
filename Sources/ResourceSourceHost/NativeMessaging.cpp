#include "ResourceSourceHost/NativeMessaging.h"

#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"
#include "ResourceSourceHost/ProtocolError.h"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include <span>
#include <stdexcept>
#include <string>
#include <system_error>

namespace brindle {

namespace {

// Requests are flat; anything nested deeper than this is refused with the parser's own message
// instead of being allowed to exhaust the stack when the value is later destroyed.
constexpr unsigned maximumNestingDepth = 64;

// Chrome drops a reply that is not UTF-8, and the serializer copies the bytes of a text as they
// are (a path from the environment or the disk need not be UTF-8). JSON's own syntax is ASCII and
// its escapes replace ASCII only, so mending the serialized reply byte for byte is the same as
// mending each text in it: an undecodable byte becomes U+FFFD.
std::string replacingInvalidUTF8(std::string serialized) {
    if (platform::isValidUTF8(serialized))
        return serialized;
    std::string mended;
    mended.reserve(serialized.size() + serialized.size() / 2);
    for (size_t offset = 0; offset < serialized.size();) {
        const platform::DecodedScalar scalar = platform::decodeScalar(serialized, offset);
        if (scalar.isUndecodable())
            mended += "\uFFFD";
        else
            mended.append(serialized, offset, scalar.length);
        offset += scalar.length;
    }
    return mended;
}

// A read error, or a failed wait for input, ends the exchange with the system's reason.
[[noreturn]] void throwReadError(std::error_code error) {
    throw std::system_error(error);
}

} // namespace

std::optional<boost::json::object> readMessage(int fd) {
    const auto input = platform::DescriptorRef::borrowing(fd);
    // The host's input may hold the next request already: reading only what this frame still
    // needs leaves that to the next call.
    nativeMessageFrame::FrameDecoder decoder;
    std::string body;
    for (;;) {
        const nativeMessageFrame::DecodeStatus status = decoder.next(body);
        if (status == nativeMessageFrame::DecodeStatus::frame)
            break;
        if (status == nativeMessageFrame::DecodeStatus::invalidLength)
            throw ProtocolError::invalidMessageSize();
        if (platform::Result<> ready = platform::waitUntilReadable(input); !ready)
            throwReadError(ready.error());
        const std::span<char> space = decoder.appendSpace(decoder.missingBytes());
        const platform::Result<std::size_t> count =
            platform::readSome(input, space.data(), space.size());
        decoder.appended(count ? *count : 0);
        if (!count)
            throwReadError(count.error());
        if (*count == 0 && decoder.isEmpty())
            return std::nullopt;
        if (*count == 0)
            throw decoder.hasHeader() ? ProtocolError::truncatedMessage()
                                      : ProtocolError::truncatedHeader();
    }

    boost::json::parse_options options;
    options.max_depth = maximumNestingDepth;
    boost::system::error_code error;
    boost::json::value value = boost::json::parse(body, error, {}, options);
    if (error)
        throw std::runtime_error(error.message());
    if (!value.is_object())
        throw ProtocolError::invalidJSON();
    return std::move(value.get_object());
}

void writeMessage(const boost::json::object& message, int fd) {
    const std::string body = replacingInvalidUTF8(boost::json::serialize(message));
    if (body.size() > nativeMessageFrame::maximumBodySize)
        throw ProtocolError::invalidMessageSize();
    writeAll(nativeMessageFrame::encode(body), fd);
}

void writeAll(std::string_view bytes, int fd) {
    if (platform::Result<> written =
            platform::writeAllWaiting(platform::DescriptorRef::borrowing(fd), bytes);
        !written)
        throw ProtocolError::outputWriteFailed(written.error().value());
}

} // namespace brindle
