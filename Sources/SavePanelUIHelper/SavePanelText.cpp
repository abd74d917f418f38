#include "SavePanelUIHelper/SavePanelText.h"

#include "Platform/Files.h"
#include "Platform/PathsAndText.h"
#include "SmartSaveUIBridge/SequentialFilenameResolver.h"

namespace brindle {

namespace {

constexpr std::size_t maximumFilenameCharacters = 240;
constexpr std::size_t maximumFilenameBytes = 255;
constexpr std::size_t maximumPathBytes = 8192;

// The longest run of whole characters from the start of `text` within `bytes` bytes.
std::string prefixWithin(const std::string& text, std::size_t bytes) {
    std::size_t kept = 0;
    for (const std::size_t end : platform::characterEnds(text)) {
        if (end > bytes)
            break;
        kept = end;
    }
    return text.substr(0, kept);
}

// A long name loses the end of its base name, never its extension: the extension says what the
// file is, and the host corrects a missing one only for some kinds.
std::string withinFilenameLimits(const std::string& name) {
    if (platform::characterCount(name) <= maximumFilenameCharacters &&
        name.size() <= maximumFilenameBytes)
        return name;
    const SavePanelFilenamePresentation parts(name);
    const std::string& extension = parts.extensionWithDot();
    const std::size_t extensionCharacters = platform::characterCount(extension);
    if (extensionCharacters < maximumFilenameCharacters &&
        extension.size() < maximumFilenameBytes) {
        const std::string base =
            prefixWithin(platform::characterPrefix(parts.editableBasename(),
                                                   maximumFilenameCharacters - extensionCharacters),
                         maximumFilenameBytes - extension.size());
        if (!base.empty())
            return base + extension;
    }
    return prefixWithin(platform::characterPrefix(name, maximumFilenameCharacters),
                        maximumFilenameBytes);
}

} // namespace

std::string bounded(const std::optional<std::string>& value, std::string_view fallback,
                    std::size_t maximum) {
    const std::string trimmed = platform::trimmingWhitespaceAndNewlines(value.value_or(""));
    return trimmed.empty() ? std::string(fallback) : platform::characterPrefix(trimmed, maximum);
}

std::string safeFilename(const std::optional<std::string>& value, std::string_view fallback) {
    const std::string trimmed = platform::trimmingWhitespaceAndNewlines(value.value_or(""));
    std::string joined;
    std::string piece;
    const auto flush = [&] {
        if (piece.empty())
            return;
        if (!joined.empty())
            joined += '-';
        joined += piece;
        piece.clear();
    };
    for (const char character : trimmed) {
        if (character == '/' || character == ':' || character == '\0')
            flush();
        else
            piece += character;
    }
    flush();
    if (joined.empty() || joined == "." || joined == "..")
        return std::string(fallback);
    return withinFilenameLimits(joined);
}

std::optional<std::string> safeDirectoryPath(const std::optional<std::string>& path) {
    if (!path || !path->starts_with('/') || path->size() > maximumPathBytes ||
        path->find('\0') != std::string::npos)
        return std::nullopt;
    std::string standardized = platform::standardizedPath(*path);
    const auto status = platform::fileStatusAtPath(standardized);
    if (!status || !status->isDirectory())
        return std::nullopt;
    return standardized;
}

} // namespace brindle
