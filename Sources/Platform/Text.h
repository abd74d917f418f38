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

    /// True for a byte that stands in for itself (U+FFFD proper takes three bytes).
    bool isUndecodable() const { return value == U'\uFFFD' && length == 1; }
};

DecodedScalar decodeScalar(std::string_view text, std::size_t offset);

bool isValidUTF8(std::string_view text);

/// Whitespace and line breaks in the Unicode sense: separators (Zs, Zl, Zp), the controls
/// U+0009 to U+000D and U+0085.
bool isWhitespaceOrNewline(char32_t scalar);

/// Letters, marks and digits of any script (the general categories L*, M* and N*).
bool isAlphanumeric(char32_t scalar);

// "Characters" here are user-perceived characters (extended grapheme clusters), as a person
// counts them: "e" with a combining accent, or a flag, is one character.

/// Byte offsets at which the characters of `text` end, in order; the last one is `text.size()`.
std::vector<std::size_t> characterEnds(std::string_view text);

std::size_t characterCount(std::string_view text);

/// The first `count` characters of `text` (all of it when it is shorter).
std::string characterPrefix(std::string_view text, std::size_t count);

/// `text` without white space and line breaks (see `isWhitespaceOrNewline`) at either end.
std::string trimmingWhitespaceAndNewlines(std::string_view text);

/// `text` with every scalar mapped to its lower-case form; undecodable bytes are kept as they are.
std::string lowercased(std::string_view text);

/// `text` in Unicode canonical composed form (NFC), so that "é" typed as one scalar and as "e"
/// with a combining accent compare equal. Text that is not valid UTF-8 is returned unchanged.
std::string canonicallyComposed(std::string_view text);

} // namespace brindle::platform
