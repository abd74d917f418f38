#include "MetadataCore/NativeMessageFrame.h"

namespace brindle::nativeMessageFrame {

std::string encode(std::string_view body) {
    const auto length = static_cast<std::uint32_t>(body.size());
    std::string frame(headerSize, '\0');
    for (std::size_t index = 0; index < headerSize; ++index)
        frame[index] = static_cast<char>((length >> (8 * index)) & 0xff);
    frame += body;
    return frame;
}

std::uint32_t FrameDecoder::announcedLength() const {
    std::uint32_t length = 0;
    for (std::size_t index = headerSize; index > 0; --index)
        length = length << 8 | static_cast<unsigned char>(buffered_[index - 1]);
    return length;
}

DecodeStatus FrameDecoder::next(std::string& body) {
    if (!hasHeader())
        return DecodeStatus::needMore;
    const std::uint32_t length = announcedLength();
    if (length == 0 || length > maximumBody_)
        return DecodeStatus::invalidLength;
    if (buffered_.size() - headerSize < length)
        return DecodeStatus::needMore;
    if (buffered_.size() == headerSize + length) {
        // The usual case, one frame read at a time: its body stays where it is.
        buffered_.erase(0, headerSize);
        body.swap(buffered_);
        buffered_.clear();
        return DecodeStatus::frame;
    }
    body.assign(buffered_, headerSize, length);
    buffered_.erase(0, headerSize + length);
    return DecodeStatus::frame;
}

std::span<char> FrameDecoder::appendSpace(std::size_t count) {
    spaceStart_ = buffered_.size();
    buffered_.resize(spaceStart_ + count);
    return {buffered_.data() + spaceStart_, count};
}

void FrameDecoder::appended(std::size_t count) {
    buffered_.resize(spaceStart_ + count);
}

std::size_t FrameDecoder::missingBytes() const {
    if (!hasHeader())
        return headerSize - buffered_.size();
    const std::size_t frameSize = headerSize + announcedLength();
    return frameSize > buffered_.size() ? frameSize - buffered_.size() : 0;
}

} // namespace brindle::nativeMessageFrame
