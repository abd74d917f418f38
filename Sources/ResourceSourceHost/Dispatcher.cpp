#include "ResourceSourceHost/Dispatcher.h"

#include "ResourceSourceHost/Actions.h"
#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/ProtocolError.h"

#include <array>
#include <string_view>

namespace brindle {

namespace {

using Handler = boost::json::object (*)(const boost::json::object&, DirectSaveUploadStore&);

struct Action {
    std::string_view name;
    Handler handler;
};

// Most actions need only the request; the upload store is for the direct-save commands.
template <boost::json::object (*handler)(const boost::json::object&)>
boost::json::object withoutStore(const boost::json::object& request, DirectSaveUploadStore&) {
    return handler(request);
}

constexpr std::array actions = {
    Action{"ping", withoutStore<ping>},
    Action{"tagDownload", withoutStore<tagDownload>},
    Action{"moveDownload", withoutStore<moveDownload>},
    Action{"discardDownload", withoutStore<discardDownload>},
    Action{"beginDirectSaveUpload", beginDirectSaveUpload},
    Action{"appendDirectSaveUpload", appendDirectSaveUpload},
    Action{"cancelDirectSaveUpload", cancelDirectSaveUpload},
    Action{"commitDirectSaveUpload", commitDirectSaveUpload},
    Action{"revealFile", withoutStore<revealFile>},
    Action{"cancelImageOptimization", withoutStore<cancelImageOptimization>},
    Action{"optimizeImage", withoutStore<optimizeImage>},
    Action{"materializeDownload", withoutStore<materializeDownload>},
    Action{"chooseSaveDestination", withoutStore<chooseSaveDestination>},
    Action{"activateSaveDestinationPanel", withoutStore<activateSaveDestinationPanel>},
};

} // namespace

boost::json::object handle(const boost::json::object& request, DirectSaveUploadStore& uploadStore) {
    const std::string name = requiredString("action", request);
    for (const Action& action : actions) {
        if (action.name == name)
            return action.handler(request, uploadStore);
    }
    throw ProtocolError::unsupportedAction();
}

} // namespace brindle
