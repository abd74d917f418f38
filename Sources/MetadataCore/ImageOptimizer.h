#pragma once

#include "Platform/FileDescriptor.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>

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
    static constexpr std::size_t classificationLimit = 1 << 20;
    static constexpr std::chrono::milliseconds cancellationInterval{100};
    static constexpr std::size_t maximumPathBytes = 8192;

    enum class InputKind { convertible, lossySource, unsupported };

    /// Converts the image at `path`. `isCancelled` (may be empty) is asked before the work and
    /// at least every 0.1 s while the encoder runs; when it answers true the call stops with
    /// `ImageOptimizerError::cancelled` and leaves the image as it was. Throws
    /// `ImageOptimizerError`.
    ImageOptimizationResult optimize(const std::string& path,
                                     const std::function<bool()>& isCancelled) const;

    /// Opens an absolute path to a regular file of the current user, never through a link.
    static platform::FileDescriptor openValidatedTarget(const std::string& path);
    static InputKind inputKind(int descriptor, std::int64_t fileSize);
    static bool isSupportedStaticPNG(std::span<const std::uint8_t> bytes);
    static bool isEightBitJPEG(std::span<const std::uint8_t> bytes);

    /// The size of the WebP file cwebp wrote at `path`, after checking that it is one.
    static std::int64_t validateWebPOutput(const std::string& path);
    static void clearHiddenFlag(const std::string& path);
    static void copyAttributeIfPresent(const std::string& name, int descriptor,
                                       const std::string& path);

    static void validateTargetIdentity(const std::string& path, const struct stat& openedStatus);
    static bool displacedFileMatches(const std::string& path, const struct stat& openedStatus);
    static void exchangeInPlace(const std::string& temporaryPath, const std::string& targetPath,
                                const struct stat& openedStatus);
    /// Exchanges, then gives the WebP content its own name: "name.webp", else "name (1).webp"
    /// and so on. Returns that path.
    static std::string exchangeAndRename(const std::string& temporaryPath,
                                         const std::string& targetPath,
                                         const struct stat& openedStatus);
    /// Swaps the two paths back, ignoring failure.
    static void rollbackExchange(const std::string& temporaryPath, const std::string& targetPath);
};

/// Same device, inode, size and modification time (to the nanosecond): the same file, unchanged.
bool hasSameIdentity(const struct stat& current, const struct stat& opened);

} // namespace brindle
