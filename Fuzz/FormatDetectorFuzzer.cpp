// The format detector on any head of a file.

#include "MetadataCore/MediaFileFormatDetector.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using Detector = brindle::MediaFileFormatDetector;
    const Detector::Head head(data, std::min(size, Detector::headLength));
    const auto extension = Detector::detectedFilenameExtension(head);
    if (extension && !Detector::isAcceptedExtension(*extension, *extension))
        std::abort();
    return 0;
}
