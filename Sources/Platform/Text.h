#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brindle::platform {

// "Characters" here are user-perceived characters (extended grapheme clusters), as a person
// counts them: "e" with a combining accent, or a flag, is one character.

bool isValidUTF8(std::string_view text);

size_t characterCount(std::string_view text);

/// The first `count` characters of `text` (all of it when it is shorter).
std::string characterPrefix(std::string_view text, size_t count);

/// `text` without white space and line breaks (Unicode separators, tab, LF to CR, NEL) at
/// either end.
std::string trimmingWhitespaceAndNewlines(std::string_view text);

} // namespace brindle::platform
