// The checks that tell a static PNG and an 8-bit JPEG from anything else.

#include "ImageOptimizerSteps.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brindle::imageOptimization;
    if (isSupportedStaticPNG({data, size}) && isEightBitJPEG({data, size}))
        std::abort();
    return 0;
}
