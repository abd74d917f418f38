#pragma once

#include <cstddef>
#include <string_view>

namespace brindle {

/// Longest path the extension may send, in UTF-8 bytes.
inline constexpr size_t maximumRequestPathBytes = 8192;

/// Longest single filename, in UTF-8 bytes.
inline constexpr size_t maximumFilenameBytes = 255;

/// A path received from the extension is usable only when it is non-empty, absolute, at most
/// `maximumRequestPathBytes` long and free of NUL bytes.
bool isUsableRequestPath(std::string_view path);

} // namespace brindle
