#include "ResourceSourceHost/NativeMessaging.h"

#include "Platform/Termination.h"
#include "Platform/Text.h"
#include "ResourceSourceHost/ProtocolError.h"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

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

// Chrome may ask the host to end while its pipe stays open, and the host spends its idle time
// waiting for the next message: that wait ends then too, as does a wait for the rest of a message
// that a writer left half-sent, and one for room in a pipe that Chrome no longer reads.
void await(int fd, short events) {
    const int termination = platform::terminationDescriptor();
    if (termination < 0)
        return;
    pollfd watch[2] = {{fd, events, 0}, {termination, POLLIN, 0}};
    while (poll(watch, 2, -1) < 0 && errno == EINTR) {
    }
    if (watch[1].revents != 0)
        throw platform::TerminationRequested{};
}

// A pipe that polls writable has room for this much at once: a larger write could block again.
std::size_t writableBytes(std::size_t remaining) {
    if (platform::terminationDescriptor() < 0)
        return remaining;
    return std::min<std::size_t>(remaining, PIPE_BUF);
}

} // namespace

std::optional<std::string> readExactly(int fd, size_t count, const ProtocolError& truncatedError) {
    std::string buffer(count, '\0');
    size_t received = 0;
    while (received < count) {
        await(fd, POLLIN);
        const ssize_t result = read(fd, buffer.data() + received, count - received);
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0)
            throw std::system_error(errno, std::generic_category());
        if (result == 0)
            break;
        received += static_cast<size_t>(result);
    }
    if (received == count)
        return buffer;
    if (received == 0)
        return std::nullopt;
    throw truncatedError;
}

std::optional<boost::json::object> readMessage(int fd) {
    auto header = readExactly(fd, 4, ProtocolError::truncatedHeader());
    if (!header)
        return std::nullopt;

    const auto* bytes = reinterpret_cast<const unsigned char*>(header->data());
    const uint32_t length = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 |
                            uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
    if (length == 0 || length > maximumMessageSize)
        throw ProtocolError::invalidMessageSize();

    auto body = readExactly(fd, length, ProtocolError::truncatedMessage());
    if (!body)
        throw ProtocolError::truncatedMessage();

    boost::json::parse_options options;
    options.max_depth = maximumNestingDepth;
    boost::system::error_code error;
    boost::json::value value = boost::json::parse(*body, error, {}, options);
    if (error)
        throw std::runtime_error(error.message());
    if (!value.is_object())
        throw ProtocolError::invalidJSON();
    return std::move(value.get_object());
}

void writeMessage(const boost::json::object& message, int fd) {
    const std::string body = replacingInvalidUTF8(boost::json::serialize(message));
    if (body.size() > static_cast<size_t>(maximumMessageSize))
        throw ProtocolError::invalidMessageSize();

    const auto length = static_cast<uint32_t>(body.size());
    const char header[4] = {
        static_cast<char>(length & 0xff), static_cast<char>((length >> 8) & 0xff),
        static_cast<char>((length >> 16) & 0xff), static_cast<char>((length >> 24) & 0xff)};
    writeAll(std::string_view(header, sizeof header), fd);
    writeAll(body, fd);
}

void writeAll(std::string_view bytes, int fd) {
    size_t offset = 0;
    while (offset < bytes.size()) {
        await(fd, POLLOUT);
        const ssize_t written =
            write(fd, bytes.data() + offset, writableBytes(bytes.size() - offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            throw ProtocolError::outputWriteFailed(errno);
        if (written == 0)
            throw ProtocolError::outputWriteFailed(EPIPE);
        offset += static_cast<size_t>(written);
    }
}

std::string framedMessage(std::string_view body) {
    const auto length = static_cast<uint32_t>(body.size());
    std::string frame(4, '\0');
    for (int index = 0; index < 4; ++index)
        frame[index] = static_cast<char>((length >> (8 * index)) & 0xff);
    frame += body;
    return frame;
}

} // namespace brindle
