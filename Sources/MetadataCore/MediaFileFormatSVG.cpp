#include "MetadataCore/MediaFileFormatDetector.h"

#include "Platform/PathsAndText.h"

#include <algorithm>

namespace brindle {
namespace {

using platform::decodeScalar;
using platform::isWhitespaceOrNewline;

bool startsWithIgnoringASCIICase(std::string_view text, std::string_view lowerCasePrefix) {
    return text.size() >= lowerCasePrefix.size() &&
           std::equal(lowerCasePrefix.begin(), lowerCasePrefix.end(), text.begin(),
                      [](char prefix, char c) {
                          return prefix == (c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
                      });
}

// "Starts with" compares whole characters: "-" or "g" carrying a combining accent is another
// character, so it does not complete "<!--" or "<svg".
bool startsWithCharactersIgnoringASCIICase(std::string_view text,
                                           std::string_view lowerCasePrefix) {
    if (!startsWithIgnoringASCIICase(text, lowerCasePrefix))
        return false;
    if (text.size() == lowerCasePrefix.size())
        return true;
    // Every prefix is ASCII, so the boundary after it depends only on the next few scalars.
    const auto ends = platform::characterEnds(text.substr(0, lowerCasePrefix.size() + 60));
    return std::binary_search(ends.begin(), ends.end(), lowerCasePrefix.size());
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty()) {
        const auto scalar = decodeScalar(text, 0);
        if (!isWhitespaceOrNewline(scalar.value))
            break;
        text.remove_prefix(scalar.length);
    }
    // Walk back to the start of the last scalar: continuation bytes are 10xxxxxx.
    while (!text.empty()) {
        std::size_t start = text.size() - 1;
        while (start > 0 && text.size() - start < 4 && (text[start] & 0xC0) == 0x80)
            --start;
        auto scalar = decodeScalar(text, start);
        if (start + scalar.length != text.size()) {
            start = text.size() - 1; // not one well-formed sequence: the last byte stands alone
            scalar = decodeScalar(text, start);
        }
        if (!isWhitespaceOrNewline(scalar.value))
            break;
        text.remove_suffix(text.size() - start);
    }
    return text;
}

// Skips the XML declarations, comments and doctypes in front of the root element; nothing when
// one of them does not end within the text.
std::optional<std::string_view> withoutPreamble(std::string_view text) {
    for (;;) {
        const auto preamble =
            std::find_if(MediaFileFormatDetector::svgPreambles.begin(),
                         MediaFileFormatDetector::svgPreambles.end(), [&](const auto& entry) {
                             return startsWithCharactersIgnoringASCIICase(text, entry.first);
                         });
        if (preamble == MediaFileFormatDetector::svgPreambles.end())
            return text;
        const std::size_t terminator = text.find(preamble->second);
        if (terminator == std::string_view::npos)
            return std::nullopt;
        text = trimmed(text.substr(terminator + preamble->second.size()));
    }
}

bool isSVGNameEnd(std::string_view character) {
    if (character == ">" || character == ":")
        return true;
    for (std::size_t offset = 0; offset < character.size();) {
        const auto scalar = decodeScalar(character, offset);
        if (!isWhitespaceOrNewline(scalar.value))
            return false;
        offset += scalar.length;
    }
    return true;
}

} // namespace

bool MediaFileFormatDetector::looksLikeSVG(Head head) {
    std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    const auto rest = withoutPreamble(trimmed(text));
    if (!rest)
        return false;

    // "<svg" must be followed by the end of the text, ">", ":" (a namespace prefix) or
    // whitespace: "<svgfoo" is some other element.
    if (!startsWithCharactersIgnoringASCIICase(*rest, "<svg"))
        return false;
    if (rest->size() == 4)
        return true;
    const auto ends = platform::characterEnds(rest->substr(0, 64));
    return isSVGNameEnd(rest->substr(4, ends[4] - 4));
}

} // namespace brindle
