#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brindle {

struct MetadataWriteResult {
    /// The URL list written as the where-from attribute.
    std::vector<std::string> urls;

    bool operator==(const MetadataWriteResult&) const = default;
};

/// Records where a downloaded file came from: its where-from list, its download date, a managed
/// block of its comment and a tag with the source URL, where the file manager shows them. Only
/// attributes are touched, never contents, and only on a regular file of the current user.
/// Throws `MetadataWriterError` (or `PropertyListError` for text that is not UTF-8).
struct MetadataWriter {
    static constexpr const char* attributeName = "com.apple.metadata:kMDItemWhereFroms";
    static constexpr const char* downloadedDateAttributeName =
        "com.apple.metadata:kMDItemDownloadedDate";
    static constexpr const char* finderCommentAttributeName =
        "com.apple.metadata:kMDItemFinderComment";

    /// Most where-from entries `readURLs` returns.
    static constexpr size_t maximumReadURLs = 64;

    /// The URLs are recorded only when they are http or https URLs with a host; the page is
    /// `pageURL`, else `frameURL`; the source is the page, else `resourceURL`.
    MetadataWriteResult write(const std::string& path,
                              const std::optional<std::string>& resourceURL,
                              const std::optional<std::string>& pageURL,
                              const std::optional<std::string>& frameURL) const;

    /// The file's where-from list (at most `maximumReadURLs` entries).
    std::vector<std::string> readURLs(const std::string& path) const;
};

} // namespace brindle
