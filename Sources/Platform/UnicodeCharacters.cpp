#include "Platform/UnicodeCharacters.h"

#include <utf8proc.h>

namespace brindle::platform {

DecodedScalar decodeScalar(std::string_view text, std::size_t offset) {
    utf8proc_int32_t scalar = 0;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + offset);
    const auto length =
        utf8proc_iterate(bytes, static_cast<utf8proc_ssize_t>(text.size() - offset), &scalar);
    if (length <= 0)
        return {U'\uFFFD', 1};
    return {static_cast<char32_t>(scalar), static_cast<std::size_t>(length)};
}

bool isWhitespaceOrNewline(char32_t scalar) {
    if ((scalar >= 0x09 && scalar <= 0x0D) || scalar == 0x85)
        return true;
    switch (utf8proc_category(static_cast<utf8proc_int32_t>(scalar))) {
    case UTF8PROC_CATEGORY_ZS:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
        return true;
    default:
        return false;
    }
}

std::vector<std::size_t> characterEnds(std::string_view text) {
    std::vector<std::size_t> ends;
    utf8proc_int32_t state = 0;
    char32_t previous = 0;
    for (std::size_t offset = 0; offset < text.size();) {
        const DecodedScalar scalar = decodeScalar(text, offset);
        if (offset > 0 &&
            utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(previous),
                                             static_cast<utf8proc_int32_t>(scalar.value), &state))
            ends.push_back(offset);
        previous = scalar.value;
        offset += scalar.length;
    }
    if (!text.empty())
        ends.push_back(text.size());
    return ends;
}

std::string lowercased(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t offset = 0; offset < text.size();) {
        const DecodedScalar scalar = decodeScalar(text, offset);
        // U+FFFD itself takes three bytes; one byte means it stands for an undecodable byte.
        const bool undecodable = scalar.value == U'\uFFFD' && scalar.length == 1;
        if (undecodable) {
            result += text[offset];
        } else {
            utf8proc_uint8_t encoded[4];
            const auto length = utf8proc_encode_char(
                utf8proc_tolower(static_cast<utf8proc_int32_t>(scalar.value)), encoded);
            result.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(length));
        }
        offset += scalar.length;
    }
    return result;
}

} // namespace brindle::platform
