#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindle {

/// The part of a file's comment that records where the file came from: a block between two
/// marker lines. Everything outside the block belongs to the user.
struct FinderCommentBlock {
    static constexpr std::string_view startMarker = "—— Kavo ——";
    static constexpr std::string_view endMarker = "—— /Kavo ——";
    /// Written by earlier versions; recognised and removed, never written.
    static constexpr std::string_view legacyStartMarker = "—— Brindle ——";
    static constexpr std::string_view legacyEndMarker = "—— /Brindle ——";
    static constexpr std::string_view pageLabel = "页面来源：";
    static constexpr std::string_view resourceLabel = "资源地址：";
};

/// Longest page URL or tag shown, in characters; a longer one ends in "…" at this length.
inline constexpr size_t sourceTextCharacterLimit = 480;

/// `text`, or its first 479 characters and "…" when it is longer than 480 characters.
std::string truncatedSourceText(std::string_view text);

/// The user's text of `existing`: every managed block removed, trimmed.
std::string userTextOfFinderComment(const std::optional<std::string>& existing);

/// The user's text of `existing`, then an empty line and a fresh block with the page and the
/// resource URL (the latter only when it differs).
std::string mergedFinderComment(const std::optional<std::string>& existing,
                                const std::optional<std::string>& resourceURL,
                                const std::optional<std::string>& pageURL);

/// The page URL that an earlier run recorded in the comment's block, if it still is a valid one.
std::optional<std::string> managedPageURL(std::string_view comment);

} // namespace brindle
