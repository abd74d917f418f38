#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace brindle {

/// What a conversion did. `path` names the file to use from now on.
struct ImageOptimizationResult {
    std::string path;
    bool optimized = false;
    std::int64_t originalBytes = 0;
    std::int64_t outputBytes = 0;
    std::string reason; // "smaller", "not-smaller", "lossy-source", "unsupported-image",
                        // "encoder-missing", "conversion-unavailable"

    bool operator==(const ImageOptimizationResult&) const = default;
};

/// Re-encodes a static PNG as lossless WebP with cwebp when that makes it smaller, and swaps the
/// result into place atomically, never when the file changed during the conversion.
struct ImageOptimizer {
    /// Attributes the WebP file takes over from the image it replaces.
    static constexpr std::array<std::string_view, 2> preservedAttributes = {"com.apple.quarantine",
                                                                            "com.apple.provenance"};

    /// Converts the image at `path`. `isCancelled` (may be empty) is asked before the work and
    /// at least every 0.1 s while the encoder runs; when it answers true the call stops with
    /// `ImageOptimizerError::cancelled` and leaves the image as it was. Throws
    /// `ImageOptimizerError`.
    ImageOptimizationResult optimize(const std::string& path,
                                     const std::function<bool()>& isCancelled) const;
};

} // namespace brindle
