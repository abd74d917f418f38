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

constexpr std::array actions = {
    Action{"ping", [](const boost::json::object& request,
                      DirectSaveUploadStore&) { return ping(request); }},
    Action{"tagDownload", [](const boost::json::object& request,
                             DirectSaveUploadStore&) { return tagDownload(request); }},
    Action{"moveDownload", [](const boost::json::object& request,
                              DirectSaveUploadStore&) { return moveDownload(request); }},
    Action{"discardDownload", [](const boost::json::object& request,
                                 DirectSaveUploadStore&) { return discardDownload(request); }},
    Action{"revealFile", [](const boost::json::object& request,
                            DirectSaveUploadStore&) { return revealFile(request); }},
    Action{"cancelImageOptimization",
           [](const boost::json::object& request, DirectSaveUploadStore&) {
               return cancelImageOptimization(request);
           }},
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
