#include "Platform/PathsAndText.h"

#include <utf8proc.h>

#include <cstdlib>

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

bool isValidUTF8(std::string_view text) {
    for (std::size_t offset = 0; offset < text.size();) {
        const DecodedScalar scalar = decodeScalar(text, offset);
        if (scalar.isUndecodable())
            return false;
        offset += scalar.length;
    }
    return true;
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

bool isAlphanumeric(char32_t scalar) {
    switch (utf8proc_category(static_cast<utf8proc_int32_t>(scalar))) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC:
    case UTF8PROC_CATEGORY_ME:
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
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

std::size_t characterCount(std::string_view text) {
    return characterEnds(text).size();
}

std::string characterPrefix(std::string_view text, std::size_t count) {
    if (count == 0)
        return {};
    const std::vector<std::size_t> ends = characterEnds(text);
    if (count >= ends.size())
        return std::string(text);
    return std::string(text.substr(0, ends[count - 1]));
}

std::string trimmingWhitespaceAndNewlines(std::string_view text) {
    std::size_t start = text.size();
    std::size_t end = 0;
    for (std::size_t offset = 0; offset < text.size();) {
        const DecodedScalar scalar = decodeScalar(text, offset);
        if (!isWhitespaceOrNewline(scalar.value)) {
            if (start == text.size())
                start = offset;
            end = offset + scalar.length;
        }
        offset += scalar.length;
    }
    if (start >= end)
        return {};
    return std::string(text.substr(start, end - start));
}

std::string lowercased(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t offset = 0; offset < text.size();) {
        const DecodedScalar scalar = decodeScalar(text, offset);
        if (scalar.isUndecodable()) {
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

std::string canonicallyComposed(std::string_view text) {
    utf8proc_uint8_t* composed = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                     static_cast<utf8proc_ssize_t>(text.size()), &composed,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (length < 0)
        return std::string(text);
    std::string result(reinterpret_cast<const char*>(composed), static_cast<std::size_t>(length));
    std::free(composed);
    return result;
}

} // namespace brindle::platform
