#include "MetadataCore/ImageOptimizerError.h"
#include "MetadataCore/ImageOptimizerSteps.h"

#include "Platform/FileReplacement.h"
#include "Platform/PathExtension.h"

#include <cerrno>
#include <unistd.h>

namespace brindle::imageOptimization {
namespace {

constexpr int renameAttempts = 1000; // the plain name, then " (1)" to " (999)"

std::string candidateName(const std::string& base, int attempt) {
    if (attempt == 0)
        return base + ".webp";
    return base + " (" + std::to_string(attempt) + ").webp";
}

// Same device, inode, size and modification time (to the nanosecond): the same file, unchanged.
bool hasSameIdentity(const struct stat& current, const struct stat& opened) {
    return current.st_dev == opened.st_dev && current.st_ino == opened.st_ino &&
           current.st_size == opened.st_size && current.st_mtim.tv_sec == opened.st_mtim.tv_sec &&
           current.st_mtim.tv_nsec == opened.st_mtim.tv_nsec;
}

// Swaps, then makes sure the file that left the target path is the one that was converted.
void exchangeVerified(const std::string& temporaryPath, const std::string& targetPath,
                      const struct stat& openedStatus) {
    if (const int error = platform::exchangePaths(temporaryPath, targetPath))
        throw ImageOptimizerError::replacementFailed(error);
    if (!displacedFileMatches(temporaryPath, openedStatus)) {
        rollbackExchange(temporaryPath, targetPath);
        throw ImageOptimizerError::targetChanged();
    }
}

} // namespace

void validateTargetIdentity(const std::string& path, const struct stat& openedStatus) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != geteuid() || !hasSameIdentity(status, openedStatus))
        throw ImageOptimizerError::targetChanged();
}

bool displacedFileMatches(const std::string& path, const struct stat& openedStatus) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && hasSameIdentity(status, openedStatus);
}

void exchangeInPlace(const std::string& temporaryPath, const std::string& targetPath,
                     const struct stat& openedStatus) {
    exchangeVerified(temporaryPath, targetPath, openedStatus);
}

std::string exchangeAndRename(const std::string& temporaryPath, const std::string& targetPath,
                              const struct stat& openedStatus) {
    exchangeVerified(temporaryPath, targetPath, openedStatus);
    const std::string base = platform::deletingPathExtension(targetPath);
    for (int attempt = 0; attempt < renameAttempts; ++attempt) {
        const std::string candidate = candidateName(base, attempt);
        const int error = platform::renameExclusively(targetPath, candidate);
        if (error == 0)
            return candidate;
        if (error != EEXIST) {
            rollbackExchange(temporaryPath, targetPath);
            throw ImageOptimizerError::replacementFailed(error);
        }
    }
    rollbackExchange(temporaryPath, targetPath);
    throw ImageOptimizerError::replacementFailed(EEXIST);
}

void rollbackExchange(const std::string& temporaryPath, const std::string& targetPath) {
    platform::exchangePaths(temporaryPath, targetPath);
}

} // namespace brindle::imageOptimization
