#include "MetadataCore/ImageOptimizerError.h"
#include "MetadataCore/ImageOptimizerSteps.h"

#include "Platform/AttributeCopy.h"
#include "Platform/FileDescriptor.h"
#include "Platform/FileReplacement.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace brindle::imageOptimization {
namespace {

constexpr off_t minimumWebPBytes = 13;

bool isUsersRegularFile(const struct stat& status) {
    return S_ISREG(status.st_mode) && status.st_uid == geteuid();
}

} // namespace

std::int64_t validateWebPOutput(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !isUsersRegularFile(status) ||
        status.st_size < minimumWebPBytes)
        throw ImageOptimizerError::invalidPath();
    const platform::FileDescriptor file(
        open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!file.isOpen())
        throw ImageOptimizerError::invalidPath();
    char header[12];
    if (pread(file.get(), header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
        throw ImageOptimizerError::invalidPath();
    // The RIFF length field is left to the decoders; the container's magic is what counts.
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WEBP", 4) != 0)
        throw ImageOptimizerError::invalidPath();
    return status.st_size;
}

void clearHiddenFlag(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !isUsersRegularFile(status))
        throw ImageOptimizerError::invalidPath();
    if (const int error = platform::clearHiddenFileFlag(path))
        throw ImageOptimizerError::replacementFailed(error);
}

void applyPermissions(const std::string& path, const struct stat& openedStatus) {
    const platform::FileDescriptor file(
        open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat status {};
    if (!file.isOpen() || fstat(file.get(), &status) != 0 || !isUsersRegularFile(status))
        throw ImageOptimizerError::invalidPath();
    if (fchmod(file.get(), openedStatus.st_mode & ACCESSPERMS) != 0)
        throw ImageOptimizerError::replacementFailed(errno);
}

void copyAttributeIfPresent(const std::string& name, int descriptor, const std::string& path) {
    if (platform::copyAttribute(name, descriptor, path) == platform::AttributeCopyResult::failed)
        throw ImageOptimizerError::invalidPath();
}

} // namespace brindle::imageOptimization
