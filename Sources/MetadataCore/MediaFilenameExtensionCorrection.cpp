#include "MetadataCore/MediaFileFormatDetector.h"

#include "Platform/PathsAndText.h"

#include <algorithm>
#include <initializer_list>

namespace brindle {
namespace {

struct Equivalents {
    std::string_view detected;
    std::initializer_list<std::string_view> alsoAccepted;
};

const Equivalents equivalentExtensions[] = {
    {"jpg", {"jpeg", "jpe"}}, {"tiff", {"tif"}}, {"mp4", {"m4v"}},
    {"mpg", {"mpeg", "mpe"}}, {"m2ts", {"mts"}},
};

std::string baseNameWithoutTrailingDots(std::string_view filename) {
    std::string base = platform::deletingPathExtension(filename);
    while (!base.empty() && base.back() == '.')
        base.pop_back();
    return base;
}

// Drops whole characters from the end until base and suffix fit; a lone character too long to
// fit leaves nothing to keep.
std::string_view cutToFit(std::string_view base, std::size_t suffixBytes) {
    const std::size_t budget = MediaFileFormatDetector::maximumFilenameBytes - suffixBytes;
    if (base.size() <= budget)
        return base;
    const auto ends = platform::characterEnds(base);
    const auto fitting = std::upper_bound(ends.begin(), ends.end(), budget);
    return fitting == ends.begin() ? std::string_view() : base.substr(0, *std::prev(fitting));
}

} // namespace

bool MediaFileFormatDetector::isAcceptedExtension(std::string_view extension,
                                                  std::string_view detected) {
    if (extension == detected)
        return true;
    const auto entry =
        std::find_if(std::begin(equivalentExtensions), std::end(equivalentExtensions),
                     [&](const Equivalents& e) { return e.detected == detected; });
    if (entry == std::end(equivalentExtensions))
        return false;
    return std::find(entry->alsoAccepted.begin(), entry->alsoAccepted.end(), extension) !=
           entry->alsoAccepted.end();
}

std::string MediaFileFormatDetector::correctingFilenameExtension(std::string_view filename,
                                                                 const std::string& path) {
    const auto detected = detectedFilenameExtension(path);
    if (!detected)
        return std::string(filename);
    if (isAcceptedExtension(platform::lowercased(platform::pathExtension(filename)), *detected))
        return std::string(filename);

    const std::string suffix = "." + *detected;
    std::string base = baseNameWithoutTrailingDots(filename);
    if (base.empty())
        base = fallbackBaseName;
    base = cutToFit(base, suffix.size());
    // A name reduced to its suffix alone would be a hidden file named like an extension.
    if (base.empty())
        base = fallbackBaseName;
    return base + suffix;
}

} // namespace brindle
