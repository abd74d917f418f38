#include "MetadataCore/MetadataWriter.h"
#include "ResourceSourceHost/Actions.h"
#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/HostActionError.h"

#include <boost/json/array.hpp>

namespace brindle {

boost::json::object tagDownload(const boost::json::object& request) {
    return runInStage(FailureStage::metadata, [&] {
        const std::string path = requiredString("path", request);
        const std::optional<std::string> resourceURL = optionalString("resourceUrl", request);
        const std::optional<std::string> pageURL = optionalString("pageUrl", request);
        const std::optional<std::string> frameURL = optionalString("frameUrl", request);
        const MetadataWriteResult result =
            MetadataWriter().write(path, resourceURL, pageURL, frameURL);
        boost::json::array urls(result.urls.begin(), result.urls.end());
        return boost::json::object{{"ok", true}, {"urls", std::move(urls)}};
    });
}

} // namespace brindle
