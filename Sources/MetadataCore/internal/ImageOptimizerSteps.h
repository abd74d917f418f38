#pragma once

// The steps of one lossless WebP conversion, shared by the optimiser's own source files. Other
// callers use `ImageOptimizer::optimize`.

#include "Platform/Files.h"
#include "Platform/Moves.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace brindle::imageOptimization {

/// How much of an image is read to decide whether it can be converted.
inline constexpr std::size_t classificationLimit = 1 << 20;

enum class InputKind { convertible, lossySource, unsupported };

/// Opens an absolute path to a regular file of the current user, never through a link.
platform::OpenedFile openValidatedTarget(const std::string& path);

InputKind inputKind(platform::DescriptorRef file, std::int64_t fileSize);
bool isSupportedStaticPNG(std::span<const std::uint8_t> bytes);
bool isEightBitJPEG(std::span<const std::uint8_t> bytes);

/// The size of the WebP file cwebp wrote at `path`, after checking that it is one.
std::int64_t validateWebPOutput(const std::string& path);
void clearHiddenFlag(const std::string& path);
void copyAttributeIfPresent(const std::string& name, platform::DescriptorRef file,
                            const std::string& path);
/// Gives the output the input's permission bits, so converting never widens who may read it.
/// Comes after the attribute copies, which a read-only mode would refuse.
void applyPermissions(const std::string& path, const platform::FileStatus& openedStatus);

void validateTargetIdentity(const std::string& path, const platform::FileStatus& openedStatus);

/// Swaps the WebP output into the image's place, which must still hold the image judged.
void exchangeInPlace(platform::TemporaryOutput& temporary,
                     const platform::FileStatus& openedStatus);
/// Exchanges, then gives the WebP content its own name: "name.webp", else "name (1).webp" and so
/// on. Returns that path.
std::string exchangeAndRename(platform::TemporaryOutput& temporary, const std::string& targetPath,
                              const platform::FileStatus& openedStatus);

} // namespace brindle::imageOptimization
