#include "MetadataCore/ProductInfo.h"
#include "ResourceSourceHost/Actions.h"

#include <boost/json/array.hpp>

namespace brindle {

boost::json::object ping(const boost::json::object& /*request*/) {
    return {
        {"ok", true},
        {"version", KavoProduct::version},
        {"component", "base"},
        {"baseCapabilities",
         {"metadata", "finder", "webp", "hls", "dash", "separate-tracks", "last-directory",
          "direct-save-upload", "save-panel"}},
    };
}

} // namespace brindle
