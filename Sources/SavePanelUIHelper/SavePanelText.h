#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// What the panel makes of the request's texts, which come from a web page.

/// The value trimmed of white space and line breaks, cut to its first `maximum` characters;
/// `fallback` when nothing is left.
std::string bounded(const std::optional<std::string>& value, std::string_view fallback,
                    std::size_t maximum);

/// A single file name: trimmed, every run of "/", ":" and NUL turned into one "-", at most 240
/// characters and, as Linux file systems require, 255 bytes (the base name is cut, the
/// extension kept); `fallback` when that leaves nothing, "." or "..".
std::string safeFilename(const std::optional<std::string>& value, std::string_view fallback);

/// The standardised path of an existing folder (not a link to one) named by an absolute path of
/// at most 8192 bytes without NUL.
std::optional<std::string> safeDirectoryPath(const std::optional<std::string>& path);

} // namespace brindle
