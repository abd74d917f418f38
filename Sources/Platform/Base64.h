#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brindle::platform {

/// How many bytes `text` decodes to if it is valid Base64 (nothing is checked here).
std::size_t base64DecodedLength(std::string_view text);

/// Decodes strict standard Base64 into `bytes`: the alphabet A-Z a-z 0-9 + /, a length that is
/// a multiple of four, and "=" padding only to fill the last group. Anything else (white space,
/// line breaks, the URL-safe alphabet, missing padding) is refused with false; `bytes` is then
/// unspecified. An empty text decodes to nothing.
bool decodeBase64(std::string_view text, std::string& bytes);

} // namespace brindle::platform
