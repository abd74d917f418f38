#include "ResourceSourceHost/ImageOptimizationCancellation.h"

#include "MetadataCore/DirectoryCreation.h"
#include "Platform/Files.h"
#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"
#include "ResourceSourceHost/ProtocolError.h"

#include <system_error>

namespace brindle {

namespace {

constexpr size_t maximumMarkerNameBytes = 128;
constexpr mode_t markerDirectoryPermissions = 0700;
constexpr mode_t markerPermissions = 0600;

bool isMarkerNameScalar(char32_t scalar) {
    return scalar == '-' || scalar == '_' || scalar == '.' || platform::isAlphanumeric(scalar);
}

} // namespace

std::optional<std::string> imageOptimizationCancellationDirectory() {
    if (auto configured = platform::configuredValue("BRINDLE_IMAGE_CANCEL_DIR"))
        return configured;
    const auto applicationSupport = platform::applicationSupportDirectory();
    if (!applicationSupport)
        return std::nullopt;
    return platform::appendingPathComponent(
        platform::appendingPathComponent(*applicationSupport, "Brindle"),
        "ImageOptimizationCancellations");
}

bool isValidCancellationMarkerName(std::string_view requestId) {
    if (requestId.empty() || requestId.size() > maximumMarkerNameBytes)
        return false;
    // Both pass the character rule but name the marker folder itself or its parent.
    if (requestId == "." || requestId == "..")
        return false;
    for (std::size_t offset = 0; offset < requestId.size();) {
        const platform::DecodedScalar scalar = platform::decodeScalar(requestId, offset);
        if (scalar.isUndecodable() || !isMarkerNameScalar(scalar.value))
            return false;
        offset += scalar.length;
    }
    return true;
}

std::optional<std::string> imageOptimizationCancellationURL(std::string_view requestId) {
    if (!isValidCancellationMarkerName(requestId))
        return std::nullopt;
    const auto directory = imageOptimizationCancellationDirectory();
    if (!directory)
        return std::nullopt;
    return platform::appendingPathComponent(*directory, requestId);
}

void markImageOptimizationCancelled(const std::string& requestId) {
    if (!isValidCancellationMarkerName(requestId))
        throw ProtocolError::missingField("requestId");
    const auto directory = imageOptimizationCancellationDirectory();
    if (!directory)
        throw DirectoryCreationError("ImageOptimizationCancellations",
                                     std::errc::no_such_file_or_directory);
    createDirectoryWithIntermediates(*directory, markerDirectoryPermissions);
    // Written under a temporary name and renamed into place, so an existing marker (or whatever
    // else holds the name) is replaced in one step and never written through.
    const std::string markerPath = platform::appendingPathComponent(*directory, requestId);
    if (const auto written = platform::writeFileAtomically(markerPath, "", markerPermissions);
        !written)
        throw ProtocolError::outputWriteFailed(written.error().value());
}

std::function<bool()> imageOptimizationCancellationCheck(const std::string& requestId) {
    return [requestId] {
        // An id that can never be marked must not let a conversion run uncancellable.
        if (!isValidCancellationMarkerName(requestId))
            return true;
        const auto markerPath = imageOptimizationCancellationURL(requestId);
        if (!markerPath)
            return false;
        return platform::fileStatusAtPath(*markerPath).has_value();
    };
}

void removeImageOptimizationCancellationMarker(const std::string& requestId) noexcept {
    try {
        if (const auto markerPath = imageOptimizationCancellationURL(requestId))
            (void)platform::removeFileOrEmptyFolder(*markerPath);
    } catch (...) {
        // Removal is a courtesy at the end of a conversion; nothing may fail because of it.
    }
}

} // namespace brindle
