// The reader of ffprobe's JSON list of streams, and the choice of the best DASH streams.

#include "MediaMaterializerSteps.h"
#include "MetadataCore/MediaMaterializerError.h"

#include <boost/system/system_error.hpp>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brindle::mediaMaterialization;
    try {
        bestDASHStreams(probedStreams({reinterpret_cast<const char*>(data), size}, std::nullopt));
    } catch (const brindle::MediaMaterializerError&) {
    } catch (const boost::system::system_error&) {
    }
    return 0;
}
