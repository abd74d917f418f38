#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brindle::platform {

/// One Unicode scalar decoded from UTF-8 and the bytes it took. A byte that does not start a
/// valid sequence decodes as U+FFFD and takes one byte, so every byte belongs to some scalar.
struct DecodedScalar {
    char32_t value;
    std::size_t length;
};

DecodedScalar decodeScalar(std::string_view text, std::size_t offset);

/// Whitespace and line breaks in the Unicode sense: separators (Zs, Zl, Zp), the controls
/// U+0009 to U+000D and U+0085.
bool isWhitespaceOrNewline(char32_t scalar);

/// Byte offsets at which the user-perceived characters (extended grapheme clusters) of `text`
/// end, in order; the last one is `text.size()`.
std::vector<std::size_t> characterEnds(std::string_view text);

/// `text` with every scalar mapped to its lower-case form; undecodable bytes are kept as they are.
std::string lowercased(std::string_view text);

} // namespace brindle::platform
