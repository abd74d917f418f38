#pragma once

#include "MetadataCore/NativeMessageFrame.h"

#include <boost/json/object.hpp>

#include <cstdint>
#include <optional>
#include <string_view>

namespace brindle {

/// Bodies of 1 to this many bytes are accepted and produced (see NativeMessageFrame.h).
inline constexpr int64_t maximumMessageSize = nativeMessageFrame::maximumBodySize;

/// The next request, or nothing at a clean end of input between messages. Reads no byte past
/// the request's frame; read errors are thrown as system errors.
std::optional<boost::json::object> readMessage(int fd);

/// Serialises `message` and writes it as one frame. Nothing is written when it is too large.
void writeMessage(const boost::json::object& message, int fd);

/// Writes every byte straight to `fd`, without buffering.
void writeAll(std::string_view bytes, int fd);

} // namespace brindle
