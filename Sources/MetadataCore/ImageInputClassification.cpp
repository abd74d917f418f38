#include "ImageOptimizerSteps.h"

#include "Platform/Files.h"

#include <algorithm>

namespace brindle::imageOptimization {
namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::size_t minimumImageBytes = 26;

std::uint32_t bigEndian32(Bytes bytes, std::size_t offset) {
    return std::uint32_t{bytes[offset]} << 24 | std::uint32_t{bytes[offset + 1]} << 16 |
           std::uint32_t{bytes[offset + 2]} << 8 | std::uint32_t{bytes[offset + 3]};
}

bool isStartOfFrame(std::uint8_t marker) {
    // C4 (Huffman tables), C8 (reserved) and CC (arithmetic conditioning) share the range.
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool hasNoLength(std::uint8_t marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

} // namespace

InputKind inputKind(platform::DescriptorRef file, std::int64_t fileSize) {
    if (fileSize < static_cast<std::int64_t>(minimumImageBytes))
        return InputKind::unsupported;
    const auto length =
        std::min<std::size_t>(static_cast<std::size_t>(fileSize), classificationLimit);
    const platform::Result<std::string> head = platform::readHead(file, length);
    if (!head)
        return InputKind::unsupported;
    const Bytes bytes(reinterpret_cast<const std::uint8_t*>(head->data()), head->size());
    if (bytes.size() < minimumImageBytes)
        return InputKind::unsupported;
    if (isSupportedStaticPNG(bytes))
        return InputKind::convertible;
    if (isEightBitJPEG(bytes))
        return InputKind::lossySource;
    return InputKind::unsupported;
}

bool isSupportedStaticPNG(Bytes bytes) {
    static constexpr std::uint8_t signature[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    if (bytes.size() < 33 || !std::equal(std::begin(signature), std::end(signature), bytes.begin()))
        return false;
    const std::uint8_t bitDepth = bytes[24];
    if (bitDepth < 1 || bitDepth > 8)
        return false;

    // An animation control chunk before the first image data makes it an animated PNG. A chunk
    // is judged by its length and type alone; only one passed over must fit, since the image data
    // of a large picture often comes as one chunk running far beyond the bytes read.
    for (std::size_t offset = 8; bytes.size() - offset >= 8;) {
        const std::string_view type(reinterpret_cast<const char*>(bytes.data() + offset + 4), 4);
        if (type == "acTL")
            return false;
        if (type == "IDAT")
            return true;
        const std::uint64_t chunkEnd = std::uint64_t{offset} + bigEndian32(bytes, offset) + 12;
        if (chunkEnd > bytes.size())
            return false;
        offset = static_cast<std::size_t>(chunkEnd);
    }
    return false;
}

bool isEightBitJPEG(Bytes bytes) {
    if (bytes.size() < 8 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return false;
    std::size_t offset = 2;
    while (offset < bytes.size()) {
        if (bytes[offset] != 0xFF) {
            ++offset;
            continue;
        }
        while (offset < bytes.size() && bytes[offset] == 0xFF)
            ++offset;
        if (offset >= bytes.size())
            return false;
        const std::uint8_t marker = bytes[offset];
        std::size_t next = offset + 1;
        if (!hasNoLength(marker)) {
            // End of image or start of scan before any frame header: nothing to judge by.
            if (marker == 0xD9 || marker == 0xDA)
                return false;
            if (next + 2 > bytes.size())
                return false;
            const std::size_t length = std::size_t{bytes[next]} << 8 | bytes[next + 1];
            if (length < 3 || next + length > bytes.size())
                return false;
            if (isStartOfFrame(marker))
                return bytes[next + 2] == 8;
            next += length;
        }
        if (bytes.size() - next < 4)
            return false;
        offset = next;
    }
    return false;
}

} // namespace brindle::imageOptimization
