// ffprobe's list of streams as JSON, the best DASH streams chosen from it, and the same bytes as a
// tool's error output shown to the user.

#include "MediaMaterializerSteps.h"
#include "MetadataCore/MediaMaterializerError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brindle::mediaMaterialization;
    (void)diagnostic({reinterpret_cast<const char*>(data), size});
    try {
        bestDASHStreams(probedStreams({reinterpret_cast<const char*>(data), size}, std::nullopt));
    } catch (const brindle::MediaMaterializerError&) {
    } catch (const boost::system::system_error&) {
    }
    return 0;
}
