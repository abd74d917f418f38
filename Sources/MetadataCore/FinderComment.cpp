#include "FinderComment.h"

#include "MetadataCore/WebURL.h"
#include "Platform/PathsAndText.h"

#include <array>
#include <utility>
#include <vector>

namespace brindle {

namespace {

using MarkerPair = std::pair<std::string_view, std::string_view>;

// The current pair is looked at first.
constexpr std::array markerPairs = {
    MarkerPair{FinderCommentBlock::startMarker, FinderCommentBlock::endMarker},
    MarkerPair{FinderCommentBlock::legacyStartMarker, FinderCommentBlock::legacyEndMarker},
};

constexpr std::string_view ellipsis = "…";

// Line feed, vertical tab, form feed, carriage return, NEL, line and paragraph separators.
constexpr std::array<std::string_view, 7> lineSeparators = {
    "\n", "\v", "\f", "\r", "\u0085", "\u2028", "\u2029",
};

// The next block at or after `offset`: the first end marker that has a start marker before it,
// and the start marker nearest before it. A start marker of the user's own, earlier in the text,
// is not taken for the start of a block that was appended after it.
std::optional<std::pair<size_t, size_t>> nextBlock(std::string_view text, const MarkerPair& markers,
                                                   size_t offset = 0) {
    const auto& [start, end] = markers;
    // A start marker wholly before an end marker already passed would have been paired with it,
    // so none is looked for before here.
    size_t searchFrom = offset;
    for (size_t endMarker = text.find(end, offset); endMarker != std::string_view::npos;
         endMarker = text.find(end, endMarker + 1)) {
        const size_t blockStart = text.substr(searchFrom, endMarker - searchFrom).rfind(start);
        if (blockStart != std::string_view::npos)
            return std::pair{searchFrom + blockStart, endMarker + end.size()};
        if (endMarker + 1 > searchFrom + start.size())
            searchFrom = endMarker + 1 - start.size();
    }
    return std::nullopt;
}

void removeBlocks(std::string& text, const MarkerPair& markers) {
    size_t offset = 0;
    while (const auto block = nextBlock(text, markers, offset)) {
        text.erase(block->first, block->second - block->first);
        offset = block->first;
    }
}

std::optional<std::string_view> blockContents(std::string_view comment, const MarkerPair& markers) {
    const auto block = nextBlock(comment, markers);
    if (!block)
        return std::nullopt;
    const size_t contentStart = block->first + markers.first.size();
    return comment.substr(contentStart, block->second - markers.second.size() - contentStart);
}

// The next line break at or after `offset`: its position and length.
std::pair<size_t, size_t> nextLineSeparator(std::string_view text, size_t offset) {
    std::pair<size_t, size_t> nearest{std::string_view::npos, 0};
    for (std::string_view separator : lineSeparators) {
        const size_t position = text.find(separator, offset);
        if (position < nearest.first)
            nearest = {position, separator.size()};
    }
    return nearest;
}

std::vector<std::string_view> nonEmptyLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t offset = 0;
    while (offset <= text.size()) {
        const auto [position, length] = nextLineSeparator(text, offset);
        const std::string_view line = text.substr(offset, position - offset);
        if (!line.empty())
            lines.push_back(line);
        if (position == std::string_view::npos)
            break;
        offset = position + length;
    }
    return lines;
}

} // namespace

std::string truncatedSourceText(std::string_view text) {
    if (platform::characterCount(text) <= sourceTextCharacterLimit)
        return std::string(text);
    return platform::characterPrefix(text, sourceTextCharacterLimit - 1) + std::string(ellipsis);
}

std::string userTextOfFinderComment(const std::optional<std::string>& existing) {
    std::string userText = existing.value_or("");
    // Taking a block out can join the text around it into another (one block inside another),
    // which the next merge would take for a block too: none is left, so merging is repeatable.
    for (size_t before = std::string::npos; before != userText.size();) {
        before = userText.size();
        for (const MarkerPair& markers : markerPairs)
            removeBlocks(userText, markers);
    }
    return platform::trimmingWhitespaceAndNewlines(userText);
}

std::string mergedFinderComment(const std::optional<std::string>& existing,
                                const std::optional<std::string>& resourceURL,
                                const std::optional<std::string>& pageURL) {
    const std::string userText = userTextOfFinderComment(existing);

    std::string block(FinderCommentBlock::startMarker);
    if (pageURL)
        block += "\n" + std::string(FinderCommentBlock::pageLabel) + *pageURL;
    if (resourceURL && (!pageURL || *resourceURL != *pageURL))
        block += "\n" + std::string(FinderCommentBlock::resourceLabel) + *resourceURL;
    block += "\n" + std::string(FinderCommentBlock::endMarker);

    if (userText.empty())
        return block;
    return userText + "\n\n" + block;
}

std::optional<std::string> managedPageURL(std::string_view comment) {
    for (const MarkerPair& markers : markerPairs) {
        const std::optional<std::string_view> contents = blockContents(comment, markers);
        if (!contents)
            continue;
        for (std::string_view line : nonEmptyLines(*contents)) {
            if (!line.starts_with(FinderCommentBlock::pageLabel))
                continue;
            if (auto url =
                    sanitizedWebURL(std::string(line.substr(FinderCommentBlock::pageLabel.size()))))
                return url;
            break;
        }
    }
    return std::nullopt;
}

} // namespace brindle
