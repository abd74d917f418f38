// The checks that decide whether an image is a static PNG or an 8-bit JPEG.

#include "ImageOptimizerSteps.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (brindle::imageOptimization::isSupportedStaticPNG(bytes) &&
        brindle::imageOptimization::isEightBitJPEG(bytes))
        std::abort();
    return 0;
}
