#include "SmartSaveUIBridge/SequentialFilenameResolver.h"

#include "Platform/Files.h"
#include "Platform/PathsAndText.h"
#include "SmartSaveUIBridge/SmartSaveFileError.h"

#include <charconv>
#include <optional>
#include <unordered_set>

namespace brindle {

namespace {

constexpr std::size_t maximumFilenameBytes = 255;
constexpr std::string_view fallbackRoot = "file";

struct FilenameParts {
    std::string basename;
    std::string extensionWithDot;
};

FilenameParts filenameParts(const std::string& name) {
    const std::string extension = platform::pathExtension(name);
    if (extension.empty())
        return {name, ""};
    return {name.substr(0, name.size() - extension.size() - 1), "." + extension};
}

struct TrailingSequence {
    std::string root;
    std::int64_t number;
};

// "photo (3)" is "photo" and 3; "photo(3)", "photo (0)", "photo ()" and "(3)" carry none.
std::optional<TrailingSequence> trailingSequence(const std::string& basename) {
    if (!basename.ends_with(')'))
        return std::nullopt;
    const std::size_t open = basename.rfind('(');
    if (open == std::string::npos || open == 0 || basename[open - 1] != ' ')
        return std::nullopt;
    const std::string_view digits =
        std::string_view(basename).substr(open + 1, basename.size() - open - 2);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || end != digits.data() + digits.size() || number < 1)
        return std::nullopt;
    return TrailingSequence{basename.substr(0, open - 1), number};
}

// Whole characters come off the end until the text fits.
std::string truncate(const std::string& text, std::int64_t byteCount) {
    if (byteCount < 1)
        return {};
    if (text.size() <= static_cast<std::size_t>(byteCount))
        return text;
    std::size_t fitting = 0;
    for (const std::size_t end : platform::characterEnds(text)) {
        if (end > static_cast<std::size_t>(byteCount))
            break;
        fitting = end;
    }
    return text.substr(0, fitting);
}

std::string nameKey(std::string_view name, bool caseSensitive) {
    std::string composed = platform::canonicallyComposed(name);
    return caseSensitive ? composed : platform::lowercased(composed);
}

} // namespace

std::string SequentialFilenameResolver::resolve(const std::string& suggestedFilename,
                                                const std::vector<std::string>& existingFilenames,
                                                bool caseSensitive,
                                                std::int64_t maximumSequenceNumber) const {
    std::unordered_set<std::string> taken;
    for (const std::string& name : existingFilenames)
        taken.insert(nameKey(name, caseSensitive));
    if (!taken.contains(nameKey(suggestedFilename, caseSensitive)))
        return suggestedFilename;

    const FilenameParts parts = filenameParts(suggestedFilename);
    std::string root = parts.basename;
    std::int64_t first = 1;
    if (auto sequence = trailingSequence(parts.basename)) {
        if (sequence->number >= maximumSequenceNumber)
            throw SequentialFilenameResolverError::noAvailableFilename();
        root = std::move(sequence->root);
        first = sequence->number + 1;
    } else if (maximumSequenceNumber < 1) {
        throw SequentialFilenameResolverError::noAvailableFilename();
    }
    if (root.empty())
        root = fallbackRoot;

    for (std::int64_t number = first; number <= maximumSequenceNumber; ++number) {
        const std::string suffix = " (" + std::to_string(number) + ")";
        const auto budget =
            static_cast<std::int64_t>(maximumFilenameBytes) -
            static_cast<std::int64_t>(suffix.size() + parts.extensionWithDot.size());
        std::string candidate = truncate(root, budget) + suffix + parts.extensionWithDot;
        if (!taken.contains(nameKey(candidate, caseSensitive)))
            return candidate;
    }
    throw SequentialFilenameResolverError::noAvailableFilename();
}

std::string SequentialFilenameResolver::resolve(const std::string& suggestedFilename,
                                                const std::string& directoryPath,
                                                std::int64_t maximumSequenceNumber) const {
    const auto folder = platform::openDirectory(directoryPath, platform::LastLink::follow);
    if (!folder)
        throw SmartSaveFileError::listingFailed(directoryPath, folder.error().value());
    const auto entries = platform::directoryEntries(*folder);
    if (!entries)
        throw SmartSaveFileError::listingFailed(directoryPath, entries.error().value());
    std::vector<std::string> names;
    for (const platform::DirectoryEntry& entry : *entries)
        names.push_back(entry.name);
    const auto distinguishesCase = platform::directoryDistinguishesCase(directoryPath);
    const bool caseSensitive = distinguishesCase && *distinguishesCase;
    return resolve(suggestedFilename, names, caseSensitive, maximumSequenceNumber);
}

SavePanelFilenamePresentation::SavePanelFilenamePresentation(std::string managedFilename)
    : managedFilename_(std::move(managedFilename)) {
    FilenameParts parts = filenameParts(managedFilename_);
    editableBasename_ = std::move(parts.basename);
    extensionWithDot_ = std::move(parts.extensionWithDot);
}

std::string SavePanelFilenamePresentation::fullFilename(std::string_view editableBasename) const {
    const std::string trimmed = platform::trimmingWhitespaceAndNewlines(editableBasename);
    return trimmed.empty() ? managedFilename_ : trimmed + extensionWithDot_;
}

} // namespace brindle
