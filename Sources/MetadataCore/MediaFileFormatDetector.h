#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace brindle {

/// Recognises image and video containers by their first bytes and puts the matching extension
/// on the name a file is saved under. Audio-only formats and documents are not recognised.
struct MediaFileFormatDetector {
    using Head = std::span<const std::uint8_t>;

    static constexpr std::size_t headLength = 4096;
    static constexpr std::size_t maximumFilenameBytes = 255;
    static constexpr std::string_view fallbackBaseName = "resource";

    /// Prefix and terminator of the declarations, comments and doctypes allowed before <svg.
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 3> svgPreambles = {{
        {"<?xml", "?>"},
        {"<!--", "-->"},
        {"<!doctype", ">"},
    }};

    /// The extension (lower case, no dot) of the file at `path`, or nothing when the file cannot
    /// be read, is empty, or matches no signature.
    static std::optional<std::string> detectedFilenameExtension(const std::string& path);

    /// `filename` with the extension the content of the file at `path` calls for, at most
    /// 255 bytes of UTF-8; unchanged when nothing is detected or the extension already fits.
    static std::string correctingFilenameExtension(std::string_view filename,
                                                   const std::string& path);

    static std::optional<std::string> detectedFilenameExtension(Head head);
    static std::optional<std::string> detectedISOBaseMediaExtension(Head head);
    static bool looksLikeSVG(Head head);
    static bool containsASCII(std::string_view word, Head head);

    /// Whether `extension` (lower case) names the same format as `detected`.
    static bool isAcceptedExtension(std::string_view extension, std::string_view detected);
};

} // namespace brindle
