#include "SavePanelUIHelper/SavePanelText.h"

#include "Platform/FileStatus.h"
#include "Platform/Path.h"
#include "Platform/Text.h"
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
    std::string name = platform::characterPrefix(joined, maximumFilenameCharacters);
    if (name.size() <= maximumFilenameBytes)
        return name;
    const SavePanelFilenamePresentation parts(name);
    const std::string& extension = parts.extensionWithDot();
    if (extension.size() < maximumFilenameBytes) {
        std::string base =
            prefixWithin(parts.editableBasename(), maximumFilenameBytes - extension.size());
        if (!base.empty())
            return base + extension;
    }
    return prefixWithin(name, maximumFilenameBytes);
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
