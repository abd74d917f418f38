#include "MediaTemporaryOutput.h"
#include "MetadataCore/MediaMaterializer.h"
#include "MetadataCore/MediaMaterializerError.h"
#include "TemporaryOutputName.h"

#include "Platform/AttributeCopy.h"
#include "Platform/FileSystem.h"
#include "Platform/Path.h"

#include <sys/stat.h>

namespace brindle::mediaMaterialization {
namespace {

platform::PendingFile createdFile(const std::string& targetPath, const std::string& extension,
                                  const platform::FileStatus& placeholder) {
    platform::Result<platform::PendingFile> file = platform::PendingFile::create(
        platform::deletingLastPathComponent(targetPath), temporaryOutputName(targetPath, extension),
        placeholder.permissions & 0777);
    if (!file)
        throw MediaMaterializerError::replacementFailed(file.error().value());
    return std::move(*file);
}

} // namespace

TemporaryOutput::TemporaryOutput(const std::string& targetPath, const std::string& extension,
                                 const platform::FileStatus& placeholder)
    : file_(createdFile(targetPath, extension, placeholder)),
      targetName_(platform::lastPathComponent(targetPath)), placeholder_(placeholder) {}

TemporaryOutput::~TemporaryOutput() {
    if (!file_.isNamed())
        return;
    const auto status = file_.statusOfName();
    if (status && (!output_ || status->identity == *output_ ||
                   status->identity == placeholder_.identity)) [[maybe_unused]]
        const platform::Result<> removed = file_.removeName();
}

void TemporaryOutput::validate() {
    const auto status = platform::fileStatus(file_.descriptor());
    if (!status || !status->isOwnRegularFile() || status->size <= 0)
        throw MediaMaterializerError::conversionFailed();
    output_ = status->identity;
}

void TemporaryOutput::takeOverFrom(int placeholderDescriptor) {
    for (const std::string& name :
         platform::carriedAttributeNames(MediaMaterializer::preservedAttributes)) {
        if (!platform::copyAttribute(name, placeholderDescriptor, file_.descriptor()))
            throw MediaMaterializerError::invalidPath();
    }
    // Created with no more than these, less what the umask took: now exactly the placeholder's.
    if (const platform::Result<> set =
            platform::setPermissions(file_.descriptor(), placeholder_.permissions & 0777);
        !set)
        throw MediaMaterializerError::replacementFailed(set.error().value());
}

void TemporaryOutput::exchange() {
    if (const platform::Result<> named = file_.giveName(); !named)
        throw MediaMaterializerError::replacementFailed(named.error().value());
    if (const platform::Result<> swapped = file_.exchangeWith(targetName_); !swapped)
        throw MediaMaterializerError::replacementFailed(swapped.error().value());
    const auto displaced = file_.statusOfName();
    if (!displaced || displaced->identity != placeholder_.identity) {
        [[maybe_unused]] const platform::Result<> swappedBack = file_.exchangeWith(targetName_);
        throw MediaMaterializerError::targetChanged();
    }
}

} // namespace brindle::mediaMaterialization
