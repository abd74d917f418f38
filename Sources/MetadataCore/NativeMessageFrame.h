#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The host speaks this framing to Chrome, and the companion speaks it to the host when it checks
// that the host answers. The rule makes no system call, so it stays out of the Linux layer; it
// lives in the lowest module that both of them link.
namespace brindle::nativeMessageFrame {

/// Chrome's framing: the body's length as 4 bytes in the machine's order (little-endian on every
/// machine Chrome runs the host on, and written as such), then that many bytes of UTF-8 JSON.
/// Bodies of 1 to `maximumBodySize` bytes are accepted and produced.
inline constexpr std::size_t headerSize = 4;
inline constexpr std::size_t maximumBodySize = 1048576;

/// `body` as one frame: its length, then the body itself.
std::string encode(std::string_view body);

/// What the bytes received so far make.
enum class DecodeStatus {
    needMore,      // the header or the body is not complete yet
    frame,         // a whole frame: its body is ready
    invalidLength, // the header announces an empty body, or one above the limit
};

/// Takes a stream in pieces of any size and cuts the frames out of it, one at a time.
class FrameDecoder {
public:
    explicit FrameDecoder(std::size_t maximumBody = maximumBodySize) : maximumBody_(maximumBody) {}

    void append(std::string_view bytes) { buffered_.append(bytes); }

    /// Room for `count` more bytes at the end of the buffer, for a read to fill in place (a body
    /// is up to a megabyte: this spares copying it); `appended` then says how many it filled.
    std::span<char> appendSpace(std::size_t count);
    void appended(std::size_t count);

    /// Looks at the start of what is buffered. On `frame`, `body` is the frame's body and the
    /// frame leaves the buffer; otherwise the buffer and `body` stay as they are.
    DecodeStatus next(std::string& body);

    /// How many more bytes the frame under way needs at least: reading no more than this never
    /// takes bytes of the frame after it.
    std::size_t missingBytes() const;

    /// Nothing buffered: the stream is between two frames.
    bool isEmpty() const { return buffered_.empty(); }
    /// The frame under way has a whole header.
    bool hasHeader() const { return buffered_.size() >= headerSize; }

private:
    std::uint32_t announcedLength() const;

    std::size_t maximumBody_;
    std::string buffered_;
    std::size_t spaceStart_ = 0;
};

} // namespace brindle::nativeMessageFrame
