// The format detector on any head of a file, and the extension it puts on a name.

#include "MetadataCore/MediaFileFormatDetector.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using brindle::MediaFileFormatDetector;
    const MediaFileFormatDetector::Head head(data,
                                             std::min(size, MediaFileFormatDetector::headLength));
    MediaFileFormatDetector::detectedISOBaseMediaExtension(head);
    MediaFileFormatDetector::looksLikeSVG(head);
    const auto extension = MediaFileFormatDetector::detectedFilenameExtension(head);
    if (extension && !MediaFileFormatDetector::isAcceptedExtension(*extension, *extension))
        std::abort();
    return 0;
}
