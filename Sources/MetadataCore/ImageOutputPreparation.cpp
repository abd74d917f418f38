#include "ImageOptimizerSteps.h"
#include "MetadataCore/ImageOptimizerError.h"

#include "Platform/Attributes.h"
#include "Platform/Files.h"
#include "Platform/Moves.h"

namespace brindle::imageOptimization {
namespace {

constexpr std::int64_t minimumWebPBytes = 13;
constexpr std::size_t webPHeaderBytes = 12;

// The output is ours alone until it is exchanged; anything else found at its name is refused.
platform::OpenedFile openOutput(const std::string& path) {
    auto output = platform::openRegularFile(path);
    if (!output)
        throw ImageOptimizerError::invalidPath();
    return std::move(*output);
}

} // namespace

std::int64_t validateWebPOutput(const std::string& path) {
    const platform::OpenedFile output = openOutput(path);
    if (output.status.size < minimumWebPBytes)
        throw ImageOptimizerError::invalidPath();
    const auto header = platform::readHead(output.descriptor, webPHeaderBytes);
    if (!header || header->size() != webPHeaderBytes)
        throw ImageOptimizerError::invalidPath();
    // The RIFF length field is left to the decoders; the container's magic is what counts.
    if (!header->starts_with("RIFF") || header->substr(8, 4) != "WEBP")
        throw ImageOptimizerError::invalidPath();
    return output.status.size;
}

void clearHiddenFlag(const std::string& path) {
    const auto status = platform::fileStatusAtPath(path);
    if (!status || !status->isOwnRegularFile())
        throw ImageOptimizerError::invalidPath();
    if (const platform::Result<> cleared = platform::clearHiddenFileFlag(path); !cleared)
        throw ImageOptimizerError::replacementFailed(cleared.error().value());
}

void applyPermissions(const std::string& path, const platform::FileStatus& openedStatus) {
    const platform::OpenedFile output = openOutput(path);
    const platform::Result<> changed =
        platform::setPermissions(output.descriptor, openedStatus.permissions & 0777);
    if (!changed)
        throw ImageOptimizerError::replacementFailed(changed.error().value());
}

void copyAttributeIfPresent(const std::string& name, platform::DescriptorRef file,
                            const std::string& path) {
    if (!platform::copyAttribute(name, file, path))
        throw ImageOptimizerError::invalidPath();
}

} // namespace brindle::imageOptimization
