#include "MediaTemporaryOutput.h"
#include "MetadataCore/MediaMaterializer.h"
#include "MetadataCore/MediaMaterializerError.h"
#include "TemporaryOutputName.h"

#include "Platform/Attributes.h"
#include "Platform/Files.h"

namespace brindle::mediaMaterialization {
namespace {

platform::TemporaryOutput createdFile(const std::string& targetPath, const std::string& extension,
                                      const platform::FileStatus& placeholder) {
    platform::Result<platform::TemporaryOutput> file = platform::TemporaryOutput::create(
        targetPath,
        [&](const std::string& target) { return temporaryOutputName(target, extension); },
        placeholder.permissions & 0777);
    if (!file)
        throw MediaMaterializerError::replacementFailed(file.error().value());
    return std::move(*file);
}

} // namespace

TemporaryOutput::TemporaryOutput(const std::string& targetPath, const std::string& extension,
                                 const platform::FileStatus& placeholder)
    : file_(createdFile(targetPath, extension, placeholder)), placeholder_(placeholder) {}

void TemporaryOutput::validate() {
    const auto status = file_.recordOutput();
    if (!status || !status->isOwnRegularFile() || status->size <= 0)
        throw MediaMaterializerError::conversionFailed();
}

void TemporaryOutput::takeOverFrom(platform::DescriptorRef placeholder) {
    for (const std::string& name :
         platform::carriedAttributeNames(MediaMaterializer::preservedAttributes)) {
        if (!platform::copyAttribute(name, placeholder, file_.descriptor()))
            throw MediaMaterializerError::invalidPath();
    }
    // Created with no more than these, less what the umask took: now exactly the placeholder's.
    if (const platform::Result<> set =
            platform::setPermissions(file_.descriptor(), placeholder_.permissions & 0777);
        !set)
        throw MediaMaterializerError::replacementFailed(set.error().value());
}

void TemporaryOutput::exchange() {
    const platform::Result<bool> swapped =
        file_.exchange([&](const platform::FileStatus& displaced) {
            return displaced.identity == placeholder_.identity;
        });
    if (!swapped)
        throw MediaMaterializerError::replacementFailed(swapped.error().value());
    if (!*swapped)
        throw MediaMaterializerError::targetChanged();
    file_.commit();
}

} // namespace brindle::mediaMaterialization
