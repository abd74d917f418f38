#include "MetadataCore/MediaFileFormatDetector.h"

#include "Platform/Files.h"

#include <algorithm>
#include <initializer_list>

namespace brindle {
namespace {

using Head = MediaFileFormatDetector::Head;

bool startsWith(Head head, std::initializer_list<std::uint8_t> signature) {
    return head.size() >= signature.size() &&
           std::equal(signature.begin(), signature.end(), head.begin());
}

bool startsWith(Head head, std::string_view signature) {
    return head.size() >= signature.size() &&
           std::equal(signature.begin(), signature.end(), head.begin(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

bool hasASCIIAt(Head head, std::size_t offset, std::string_view text) {
    return head.size() >= offset + text.size() && startsWith(head.subspan(offset), text);
}

bool isRIFF(Head head, std::string_view form) {
    return head.size() >= 12 && hasASCIIAt(head, 0, "RIFF") && hasASCIIAt(head, 8, form);
}

std::optional<std::string> detectedMatroskaExtension(Head head) {
    if (MediaFileFormatDetector::containsASCII("webm", head))
        return "webm";
    if (MediaFileFormatDetector::containsASCII("matroska", head))
        return "mkv";
    return std::nullopt;
}

std::optional<std::string> detectedTransportStreamExtension(Head head) {
    if (head.size() >= 377 && head[0] == 0x47 && head[188] == 0x47 && head[376] == 0x47)
        return "ts";
    if (head.size() >= 389 && head[4] == 0x47 && head[196] == 0x47 && head[388] == 0x47)
        return "m2ts";
    return std::nullopt;
}

// Still images, most common first; then the containers that need more than a fixed prefix.
std::optional<std::string> detectedImageExtension(Head head) {
    if (startsWith(head, {0xFF, 0xD8, 0xFF}))
        return "jpg";
    if (startsWith(head, {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}))
        return "png";
    if (startsWith(head, "GIF87a") || startsWith(head, "GIF89a"))
        return "gif";
    if (isRIFF(head, "WEBP"))
        return "webp";
    if (startsWith(head, {0x49, 0x49, 0x2A, 0x00}) || startsWith(head, {0x4D, 0x4D, 0x00, 0x2A}))
        return "tiff";
    if (startsWith(head, "BM"))
        return "bmp";
    if (startsWith(head, {0x00, 0x00, 0x01, 0x00}))
        return "ico";
    if (startsWith(head, "8BPS"))
        return "psd";
    if (startsWith(head, "qoif"))
        return "qoi";
    if (startsWith(head, {0xFF, 0x0A}) ||
        startsWith(head, {0x00, 0x00, 0x00, 0x0C, 0x4A, 0x58, 0x4C, 0x20, 0x0D, 0x0A, 0x87, 0x0A}))
        return "jxl";
    if (startsWith(head, {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A}))
        return "jp2";
    return std::nullopt;
}

std::optional<std::string> detectedVideoExtension(Head head) {
    if (isRIFF(head, "AVI "))
        return "avi";
    if (startsWith(head, "FLV"))
        return "flv";
    if (startsWith(head, {0x1A, 0x45, 0xDF, 0xA3})) {
        // A Matroska file naming neither document type goes on to the remaining tests.
        if (auto extension = detectedMatroskaExtension(head))
            return extension;
    }
    if (auto extension = detectedTransportStreamExtension(head))
        return extension;
    if (startsWith(head, {0x00, 0x00, 0x01, 0xBA}) || startsWith(head, {0x00, 0x00, 0x01, 0xB3}))
        return "mpg";
    if (startsWith(head, {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA,
                          0x00, 0x62, 0xCE, 0x6C}))
        return "wmv";
    if (startsWith(head, ".RMF"))
        return "rm";
    if (startsWith(head, "OggS") && MediaFileFormatDetector::containsASCII("theora", head))
        return "ogv";
    return std::nullopt;
}

// The content decides, not the owner: anyone's regular file may be looked at, but never through
// a link, and never a FIFO or device that happens to bear the name. Nothing when it can't be read.
std::string readHead(const std::string& path) {
    const auto file = platform::openRegularFile(path, platform::RequiredOwner::anyone);
    if (!file)
        return {};
    auto head = platform::readHead(file->descriptor, MediaFileFormatDetector::headLength);
    return head ? std::move(*head) : std::string();
}

} // namespace

std::optional<std::string>
MediaFileFormatDetector::detectedFilenameExtension(const std::string& path) {
    const std::string head = readHead(path);
    if (head.empty())
        return std::nullopt;
    return detectedFilenameExtension(
        Head(reinterpret_cast<const std::uint8_t*>(head.data()), head.size()));
}

std::optional<std::string> MediaFileFormatDetector::detectedFilenameExtension(Head head) {
    if (auto extension = detectedImageExtension(head))
        return extension;
    if (auto extension = detectedISOBaseMediaExtension(head))
        return extension;
    if (looksLikeSVG(head))
        return "svg";
    return detectedVideoExtension(head);
}

bool MediaFileFormatDetector::containsASCII(std::string_view word, Head head) {
    const auto found =
        std::search(head.begin(), head.end(), word.begin(), word.end(),
                    [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    return found != head.end() || word.empty();
}

} // namespace brindle
