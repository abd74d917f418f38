#include "MetadataCore/MediaMaterializer.h"
#include "MetadataCore/MetadataWriter.h"
#include "ResourceSourceHost/Actions.h"
#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/HostActionError.h"
#include "ResourceSourceHost/ProtocolError.h"

#include <boost/json/array.hpp>

namespace brindle {

boost::json::object materializeDownload(const boost::json::object& request) {
    const std::string path = requiredString("path", request);
    const std::optional<std::string> manifestURL = optionalString("manifestUrl", request);
    const std::optional<std::string> mediaURL = optionalString("mediaUrl", request);
    if (!manifestURL && !mediaURL)
        throw ProtocolError::missingField("manifestUrl/mediaUrl");

    // A separate track wins over a manifest when the extension sends both.
    const std::string resourceURL = runInStage(FailureStage::materialize, [&] {
        if (mediaURL) {
            const std::optional<std::string> audioURL = optionalString("audioUrl", request);
            const std::string mediaKind = requiredString("mediaKind", request);
            const std::optional<std::string> referrerURL = optionalString("referrerUrl", request);
            MediaMaterializer().materialize(path, *mediaURL, audioURL, mediaKind, referrerURL);
            return *mediaURL;
        }
        const std::string manifest = requiredString("manifestUrl", request);
        MediaMaterializer().materialize(path, manifest, requiredString("mediaKind", request));
        return manifest;
    });

    const MetadataWriteResult metadata = runInStage(FailureStage::metadata, [&] {
        return MetadataWriter().write(path, resourceURL, optionalString("pageUrl", request),
                                      optionalString("frameUrl", request));
    });
    return {
        {"ok", true},
        {"urls", boost::json::array(metadata.urls.begin(), metadata.urls.end())},
        {"materialized", true},
    };
}

} // namespace brindle
