#include "MetadataCore/DownloadDestinationMover.h"
#include "ResourceSourceHost/Actions.h"
#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/HostActionError.h"

namespace brindle {

namespace {

// Stateless, so it is complete before main runs and only ever read.
const DownloadDestinationMover processMover{};

} // namespace

const DownloadDestinationMover& destinationMover() {
    return processMover;
}

boost::json::object moveDownload(const boost::json::object& request) {
    return runInStage(FailureStage::destination, [&] {
        const std::string path = requiredString("path", request);
        const std::string directory = requiredString("destinationDirectory", request);
        const std::optional<std::string> filename = optionalString("destinationFilename", request);
        const bool overwrite = flag("overwrite", request);
        const DownloadDestinationMoveResult result =
            destinationMover().move(path, directory, filename, overwrite);
        return boost::json::object{{"ok", true},
                                   {"path", result.path},
                                   {"moved", result.moved},
                                   {"conflict", result.conflict}};
    });
}

boost::json::object discardDownload(const boost::json::object& request) {
    return runInStage(FailureStage::destination, [&] {
        const std::string path = requiredString("path", request);
        destinationMover().discard(path);
        return boost::json::object{{"ok", true}, {"discarded", true}};
    });
}

} // namespace brindle
