#include "MetadataCore/DirectSaveUploadStore.h"
#include "MetadataCore/DownloadDestinationMover.h"
#include "MetadataCore/DownloadDestinationMoverError.h"
#include "MetadataCore/ImageOptimizer.h"
#include "MetadataCore/MediaFileFormatDetector.h"
#include "MetadataCore/MediaMaterializer.h"
#include "MetadataCore/MetadataWriter.h"
#include "Platform/Files.h"
#include "Platform/PathsAndText.h"
#include "ResourceSourceHost/Actions.h"
#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/HostActionError.h"
#include "ResourceSourceHost/ImageOptimizationCancellation.h"
#include "ResourceSourceHost/SavePanelLocations.h"

#include <algorithm>

namespace brindle {

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

namespace {

// What lies there is the host's own to remove (a later host's clean-up would take a delivered
// upload for an abandoned one), whatever spelling of the folder's path the request uses.
bool isPrivateFolder(const std::string& directory) {
    const std::vector<platform::FileIdentity> enclosing = platform::enclosingFolders(directory);
    return std::ranges::any_of(privateDataFolders(), [&](const std::string& folder) {
        const auto status = platform::fileStatusFollowingLinks(folder);
        return status && std::ranges::find(enclosing, status->identity) != enclosing.end();
    });
}

std::string webPFilename(const std::string& filename) {
    std::string stem = platform::deletingPathExtension(filename);
    return (stem.empty() ? "resource" : stem) + ".webp";
}

struct Delivery {
    std::string preparedPath;
    std::string filename;
    bool optimized = false;
    std::int64_t originalBytes = 0;
    std::int64_t outputBytes = 0;
};

// The first attempt: verify the upload, materialise, convert and record its sources, then hand
// the result to the store as the prepared file that a retried commit will only move.
void prepare(const std::string& requestId, const boost::json::object& request,
             std::int64_t totalBytes, std::int64_t chunkCount, DirectSaveUploadStore& uploadStore,
             Delivery& delivery) {
    std::string working = runInStage(FailureStage::upload, [&] {
        return uploadStore.finish(requestId, totalBytes, chunkCount);
    });
    runInStage(FailureStage::materialize, [&] {
        if (flag("materializeTracks", request)) {
            const std::string mediaURL = requiredString("resourceUrl", request);
            const auto audioURL = optionalString("audioResourceUrl", request);
            const std::string mediaKind = requiredString("mediaKind", request);
            MediaMaterializer().materialize(working, mediaURL, audioURL, mediaKind,
                                            optionalString("pageUrl", request));
        } else if (flag("materializeManifest", request)) {
            const std::string manifestURL = requiredString("resourceUrl", request);
            MediaMaterializer().materialize(working, manifestURL,
                                            requiredString("mediaKind", request));
        }
    });
    if (flag("optimizeToWebP", request)) {
        const ImageOptimizationResult result = runInStage(FailureStage::optimize, [&] {
            return ImageOptimizer().optimize(working,
                                             imageOptimizationCancellationCheck(requestId));
        });
        working = result.path;
        // The converted file has a name of its own: it is the one to delete if a later step fails.
        runInStage(FailureStage::upload, [&] { uploadStore.replaceFile(requestId, working); });
        delivery.optimized = result.optimized;
        delivery.originalBytes = result.originalBytes;
        delivery.outputBytes = result.outputBytes;
        if (result.optimized)
            delivery.filename = webPFilename(delivery.filename);
    }
    runInStage(FailureStage::metadata, [&] {
        MetadataWriter().write(working, optionalString("resourceUrl", request),
                               optionalString("pageUrl", request),
                               optionalString("frameUrl", request));
    });
    runInStage(FailureStage::upload, [&] { uploadStore.markPrepared(requestId, working); });
    delivery.preparedPath = std::move(working);
}

boost::json::object commit(const std::string& requestId, const boost::json::object& request,
                           DirectSaveUploadStore& uploadStore) {
    const std::int64_t totalBytes = requiredNonNegativeInteger("totalBytes", request);
    const std::int64_t chunkCount = requiredNonNegativeInteger("chunkCount", request);
    const std::string directory = requiredString("destinationDirectory", request);
    Delivery delivery{{}, requiredString("destinationFilename", request)};
    const bool overwrite = flag("overwrite", request);

    if (auto prepared = uploadStore.preparedURL(requestId)) {
        delivery.preparedPath = std::move(*prepared);
        if (flag("optimizeToWebP", request) &&
            platform::lowercased(platform::pathExtension(delivery.preparedPath)) == "webp") {
            delivery.filename = webPFilename(delivery.filename);
            delivery.optimized = true;
        }
    } else {
        prepare(requestId, request, totalBytes, chunkCount, uploadStore, delivery);
    }
    const auto mediaKind = optionalString("mediaKind", request);
    if (mediaKind == "image" || mediaKind == "video")
        delivery.filename = MediaFileFormatDetector::correctingFilenameExtension(
            delivery.filename, delivery.preparedPath);

    const DownloadDestinationMoveResult result = runInStage(FailureStage::destination, [&] {
        if (isPrivateFolder(directory))
            throw DownloadDestinationMoverError::invalidDestinationDirectory();
        return destinationMover().move(delivery.preparedPath, directory, delivery.filename,
                                       overwrite);
    });
    if (result.conflict)
        return {{"ok", true},          {"event", "conflict"}, {"requestId", requestId},
                {"path", result.path}, {"moved", false},      {"conflict", true}};
    if (!result.moved) {
        const auto error = DownloadDestinationMoverError::moveFailed("目标文件未写入");
        throw HostActionError(std::make_exception_ptr(error), error.what(),
                              FailureStage::destination, false);
    }
    uploadStore.complete(requestId);
    return {{"ok", true},
            {"event", "complete"},
            {"requestId", requestId},
            {"path", result.path},
            {"moved", true},
            {"conflict", false},
            {"optimized", delivery.optimized},
            {"originalBytes", delivery.originalBytes},
            {"outputBytes", delivery.outputBytes}};
}

// A cancellation marker is meant for this commit only, however it ends.
struct MarkerRemoval {
    const std::string& requestId;
    ~MarkerRemoval() { removeImageOptimizationCancellationMarker(requestId); }
};

} // namespace

boost::json::object commitDirectSaveUpload(const boost::json::object& request,
                                           DirectSaveUploadStore& uploadStore) {
    const std::string requestId = requiredString("requestId", request);
    const MarkerRemoval markerRemoval{requestId};
    // Only a failure at the destination keeps the upload, so that the commit can be repeated.
    try {
        return commit(requestId, request, uploadStore);
    } catch (const HostActionError& error) {
        if (error.stage() != FailureStage::destination)
            uploadStore.cancel(requestId);
        throw;
    } catch (...) {
        uploadStore.cancel(requestId);
        throw;
    }
}

} // namespace brindle
