#include "MetadataCore/DirectSaveUploadStore.h"
#include "MetadataCore/DirectoryCreation.h"
#include "Platform/Path.h"
#include "Platform/ProcessInfo.h"
#include "Platform/StandardDirectories.h"
#include "ResourceSourceHost/Actions.h"
#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/HostActionError.h"

#include <cerrno>

namespace brindle {

std::string directSaveIncomingDirectory() {
    if (auto configured = platform::environmentValue("BRINDLE_DIRECT_SAVE_DIR");
        configured && !configured->empty())
        return *configured;
    const auto applicationSupport = platform::applicationSupportDirectory();
    if (!applicationSupport)
        throw DirectoryCreationError("DirectSave", ENOENT);
    std::string directory = *applicationSupport;
    for (const char* component : {"Brindle", "DirectSave", "Incoming"})
        directory = platform::appendingPathComponent(directory, component);
    return directory;
}

boost::json::object beginDirectSaveUpload(const boost::json::object& request,
                                          DirectSaveUploadStore& uploadStore) {
    return runInStage(FailureStage::upload, [&] {
        const std::string requestId = requiredString("requestId", request);
        const std::optional<std::string> suggestedFilename =
            optionalString("suggestedFilename", request);
        uploadStore.begin(requestId, suggestedFilename);
        return boost::json::object{
            {"ok", true}, {"event", "upload-ready"}, {"requestId", requestId}};
    });
}

boost::json::object appendDirectSaveUpload(const boost::json::object& request,
                                           DirectSaveUploadStore& uploadStore) {
    return runInStage(FailureStage::upload, [&] {
        const std::string requestId = requiredString("requestId", request);
        const std::int64_t chunkIndex = requiredNonNegativeInteger("chunkIndex", request);
        const std::string_view data = requiredStringView("data", request);
        const std::int64_t receivedBytes = uploadStore.append(requestId, chunkIndex, data);
        return boost::json::object{{"ok", true},
                                   {"event", "upload-progress"},
                                   {"requestId", requestId},
                                   {"chunkIndex", chunkIndex},
                                   {"receivedBytes", receivedBytes}};
    });
}

boost::json::object cancelDirectSaveUpload(const boost::json::object& request,
                                           DirectSaveUploadStore& uploadStore) {
    const std::string requestId = requiredString("requestId", request);
    uploadStore.cancel(requestId);
    return boost::json::object{
        {"ok", true}, {"event", "cancelled"}, {"requestId", requestId}, {"cancelled", true}};
}

} // namespace brindle
