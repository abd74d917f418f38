#pragma once

#include <boost/json/object.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

class ProtocolError;

/// Chrome's framing: a 4-byte little-endian length, then that many bytes of UTF-8 JSON.
/// Bodies of 1 to `maximumMessageSize` bytes are accepted and produced.
inline constexpr int64_t maximumMessageSize = 1048576;

/// `body` as one frame: its length as 4 little-endian bytes, then the body itself.
std::string framedMessage(std::string_view body);

/// Reads exactly `count` bytes from `fd`. Returns nothing when the input ends before the first
/// byte and throws `truncatedError` when it ends later; read errors are thrown as system errors.
std::optional<std::string> readExactly(int fd, size_t count, const ProtocolError& truncatedError);

/// The next request, or nothing at a clean end of input between messages.
std::optional<boost::json::object> readMessage(int fd);

/// Serialises `message` and writes it as one frame. Nothing is written when it is too large.
void writeMessage(const boost::json::object& message, int fd);

/// Writes every byte straight to `fd`, without buffering.
void writeAll(std::string_view bytes, int fd);

} // namespace brindle
