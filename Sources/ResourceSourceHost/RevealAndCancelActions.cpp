#include "ResourceSourceHost/Actions.h"
#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/FinderRevealer.h"
#include "ResourceSourceHost/ImageOptimizationCancellation.h"

namespace brindle {

boost::json::object revealFile(const boost::json::object& request) {
    const std::string path = requiredString("path", request);
    const FinderRevealResult result = FinderRevealer{}.revealFile(path);
    if (result.resultCase() == FinderRevealResult::Case::missing)
        return {{"ok", true}, {"revealed", false}, {"missing", true}};
    return {{"ok", true}, {"revealed", true}, {"path", result.path()}};
}

boost::json::object cancelImageOptimization(const boost::json::object& request) {
    const std::string requestId = requiredString("requestId", request);
    markImageOptimizationCancelled(requestId);
    return {{"ok", true}, {"cancelled", true}, {"requestId", requestId}};
}

} // namespace brindle
