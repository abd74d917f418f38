#include "Platform/Text.h"

#include <utf8proc.h>

namespace brindle::platform {

namespace {

// One decoded scalar; a byte that does not start valid UTF-8 stands for itself.
struct Scalar {
    utf8proc_int32_t codepoint;
    size_t length;
};

Scalar scalarAt(std::string_view text, size_t offset) {
    utf8proc_int32_t codepoint = 0;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + offset);
    const utf8proc_ssize_t length =
        utf8proc_iterate(bytes, static_cast<utf8proc_ssize_t>(text.size() - offset), &codepoint);
    if (length <= 0)
        return {static_cast<unsigned char>(text[offset]), 1};
    return {codepoint, static_cast<size_t>(length)};
}

// Calls `atBoundary(offset)` at the start of every character after the first; stops when it
// returns false.
template <class Visitor> void forEachCharacterStart(std::string_view text, Visitor&& atBoundary) {
    utf8proc_int32_t state = 0;
    utf8proc_int32_t previous = -1;
    for (size_t offset = 0; offset < text.size();) {
        const Scalar scalar = scalarAt(text, offset);
        if (previous >= 0 && utf8proc_grapheme_break_stateful(previous, scalar.codepoint, &state)) {
            if (!atBoundary(offset))
                return;
        }
        previous = scalar.codepoint;
        offset += scalar.length;
    }
}

bool isWhitespaceOrNewline(utf8proc_int32_t codepoint) {
    if (codepoint == '\t' || (codepoint >= '\n' && codepoint <= '\r') || codepoint == 0x85)
        return true;
    const utf8proc_category_t category = utf8proc_category(codepoint);
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
           category == UTF8PROC_CATEGORY_ZP;
}

} // namespace

bool isValidUTF8(std::string_view text) {
    for (size_t offset = 0; offset < text.size();) {
        utf8proc_int32_t codepoint = 0;
        const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + offset);
        const utf8proc_ssize_t length = utf8proc_iterate(
            bytes, static_cast<utf8proc_ssize_t>(text.size() - offset), &codepoint);
        if (length <= 0)
            return false;
        offset += static_cast<size_t>(length);
    }
    return true;
}

size_t characterCount(std::string_view text) {
    if (text.empty())
        return 0;
    size_t count = 1;
    forEachCharacterStart(text, [&](size_t) {
        ++count;
        return true;
    });
    return count;
}

std::string characterPrefix(std::string_view text, size_t count) {
    if (count == 0)
        return {};
    size_t end = text.size();
    size_t characters = 1;
    forEachCharacterStart(text, [&](size_t offset) {
        if (characters == count) {
            end = offset;
            return false;
        }
        ++characters;
        return true;
    });
    return std::string(text.substr(0, end));
}

std::string trimmingWhitespaceAndNewlines(std::string_view text) {
    size_t start = text.size();
    size_t end = 0;
    for (size_t offset = 0; offset < text.size();) {
        const Scalar scalar = scalarAt(text, offset);
        if (!isWhitespaceOrNewline(scalar.codepoint)) {
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

} // namespace brindle::platform
