#include "MetadataCore/ImageOptimizer.h"
#include "MetadataCore/MetadataWriter.h"
#include "ResourceSourceHost/Actions.h"
#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/HostActionError.h"
#include "ResourceSourceHost/ImageOptimizationCancellation.h"

#include <boost/json/array.hpp>

namespace brindle {

namespace {

// A cancellation is meant for one conversion: its marker goes when that conversion ends,
// however it ends, so that a later request with the same id is not cancelled by it.
class CancellationMarkerRemoval {
public:
    explicit CancellationMarkerRemoval(const std::optional<std::string>& requestId)
        : requestId_(requestId) {}
    ~CancellationMarkerRemoval() {
        if (requestId_)
            removeImageOptimizationCancellationMarker(*requestId_);
    }
    CancellationMarkerRemoval(const CancellationMarkerRemoval&) = delete;
    CancellationMarkerRemoval& operator=(const CancellationMarkerRemoval&) = delete;

private:
    const std::optional<std::string>& requestId_;
};

} // namespace

boost::json::object optimizeImage(const boost::json::object& request) {
    const std::string path = requiredString("path", request);
    const std::optional<std::string> requestId = optionalString("requestId", request);
    const CancellationMarkerRemoval markerRemoval(requestId);
    std::function<bool()> isCancelled;
    if (requestId)
        isCancelled = imageOptimizationCancellationCheck(*requestId);

    const ImageOptimizationResult result = runInStage(
        FailureStage::optimize, [&] { return ImageOptimizer().optimize(path, isCancelled); });

    const MetadataWriteResult metadata = runInStage(FailureStage::metadata, [&] {
        return MetadataWriter().write(result.path, optionalString("resourceUrl", request),
                                      optionalString("pageUrl", request),
                                      optionalString("frameUrl", request));
    });

    return {
        {"ok", true},
        {"urls", boost::json::array(metadata.urls.begin(), metadata.urls.end())},
        {"optimized", result.optimized},
        {"path", result.path},
        {"originalBytes", result.originalBytes},
        {"outputBytes", result.outputBytes},
        {"reason", result.reason},
    };
}

} // namespace brindle
