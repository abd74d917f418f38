#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// A running image conversion is cancelled through an empty marker file named after its request
// id. The marker lives on disk so that any host process can cancel a conversion running in
// another one.

/// $BRINDLE_IMAGE_CANCEL_DIR when set and not empty, else the user's application data folder
/// followed by "Brindle/ImageOptimizationCancellations". Nothing when the user has no home.
std::optional<std::string> imageOptimizationCancellationDirectory();

/// Whether `requestId` may name a marker: 1 to 128 bytes of valid UTF-8, made of Unicode
/// letters, marks and digits and "-", "_", ".", and neither "." nor "..".
bool isValidCancellationMarkerName(std::string_view requestId);

/// The marker's path, or nothing when the id is not a valid marker name (or there is no
/// marker folder).
std::optional<std::string> imageOptimizationCancellationURL(std::string_view requestId);

/// Records that the conversion of `requestId` should stop. An invalid id throws
/// `ProtocolError::missingField("requestId")`; a marker folder that cannot be made throws
/// `DirectoryCreationError`; a marker that cannot be written throws
/// `ProtocolError::outputWriteFailed`.
void markImageOptimizationCancelled(const std::string& requestId);

/// The check handed to a conversion: true once `requestId` has been cancelled. An id that
/// cannot name a marker always counts as cancelled.
std::function<bool()> imageOptimizationCancellationCheck(const std::string& requestId);

/// Removes the marker of `requestId`, if any. Never fails.
void removeImageOptimizationCancellationMarker(const std::string& requestId) noexcept;

} // namespace brindle
