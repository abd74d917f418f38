#include "MetadataCore/MediaFileFormatDetector.h"

#include <algorithm>
#include <set>

namespace brindle {
namespace {

struct BrandGroup {
    std::string_view extension;
    std::initializer_list<std::string_view> brands;
    std::string_view lowerCasePrefix; // matches any brand starting with it, when not empty
};

// Tested in this order: a HEIF file listing both "mif1" and "heic" is HEIC.
const BrandGroup brandGroups[] = {
    {"avif", {"avif", "avis"}, {}},
    {"heic", {"heic", "heix", "hevc", "hevx"}, {}},
    {"heif", {"heif", "heim", "heis", "mif1", "msf1"}, {}},
    {"mov", {"qt  "}, {}},
    {"3gp", {}, "3gp"},
    {"3g2", {}, "3g2"},
    {"f4v", {"F4V ", "f4v "}, {}},
    {"m4v", {"M4V ", "M4VH", "M4VP"}, {}},
    {"mp4",
     {"isom", "iso2", "iso3", "iso4", "iso5", "iso6", "mp41", "mp42", "avc1", "dash", "MSNV"},
     {}},
};

std::string lowerCaseASCII(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return result;
}

bool matches(const BrandGroup& group, const std::set<std::string>& brands) {
    return std::any_of(brands.begin(), brands.end(), [&](const std::string& brand) {
        if (!group.lowerCasePrefix.empty())
            return lowerCaseASCII(brand).starts_with(group.lowerCasePrefix);
        return std::find(group.brands.begin(), group.brands.end(), brand) != group.brands.end();
    });
}

std::optional<std::string> brandAt(MediaFileFormatDetector::Head head, std::size_t offset) {
    const auto bytes = head.subspan(offset, 4);
    if (std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte >= 0x80; }))
        return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

std::optional<std::string> MediaFileFormatDetector::detectedISOBaseMediaExtension(Head head) {
    if (head.size() < 16 || !std::equal(head.begin() + 4, head.begin() + 8, "ftyp"))
        return std::nullopt;
    const std::uint32_t boxSize = std::uint32_t{head[0]} << 24 | std::uint32_t{head[1]} << 16 |
                                  std::uint32_t{head[2]} << 8 | std::uint32_t{head[3]};
    // Sizes 0 (to the end of the file) and 1 (64-bit size follows) are not accepted.
    if (boxSize < 16)
        return std::nullopt;
    const std::size_t limit = std::min<std::size_t>(boxSize, head.size());

    std::set<std::string> brands;
    if (auto major = brandAt(head, 8))
        brands.insert(*major);
    // Bytes 12 to 15 hold the minor version; the compatible brands follow.
    for (std::size_t offset = 16; limit >= 20 && offset < limit - 3; offset += 4) {
        if (auto brand = brandAt(head, offset))
            brands.insert(*brand);
    }

    for (const BrandGroup& group : brandGroups) {
        if (matches(group, brands))
            return std::string(group.extension);
    }
    return std::nullopt;
}

} // namespace brindle
