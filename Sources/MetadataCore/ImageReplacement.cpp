#include "ImageOptimizerSteps.h"
#include "MetadataCore/ImageOptimizerError.h"

#include "Platform/FileReplacement.h"
#include "Platform/PathExtension.h"

#include <cerrno>

namespace brindle::imageOptimization {
namespace {

constexpr int renameAttempts = 1000; // the plain name, then " (1)" to " (999)"

std::string candidateName(const std::string& base, int attempt) {
    if (attempt == 0)
        return base + ".webp";
    return base + " (" + std::to_string(attempt) + ").webp";
}

// Swaps, then makes sure the file that left the target path is the one that was converted.
void exchangeVerified(const std::string& temporaryPath, const std::string& targetPath,
                      const platform::FileStatus& openedStatus) {
    if (const platform::Result<> exchanged = platform::exchangePaths(temporaryPath, targetPath);
        !exchanged)
        throw ImageOptimizerError::replacementFailed(exchanged.error().value());
    if (!displacedFileMatches(temporaryPath, openedStatus)) {
        rollbackExchange(temporaryPath, targetPath);
        throw ImageOptimizerError::targetChanged();
    }
}

} // namespace

void validateTargetIdentity(const std::string& path, const platform::FileStatus& openedStatus) {
    const auto status = platform::fileStatusAtPath(path);
    if (!status || !status->isOwnRegularFile() || !status->isUnchangedFrom(openedStatus))
        throw ImageOptimizerError::targetChanged();
}

bool displacedFileMatches(const std::string& path, const platform::FileStatus& openedStatus) {
    const auto status = platform::fileStatusAtPath(path);
    return status && status->isUnchangedFrom(openedStatus);
}

void exchangeInPlace(const std::string& temporaryPath, const std::string& targetPath,
                     const platform::FileStatus& openedStatus) {
    exchangeVerified(temporaryPath, targetPath, openedStatus);
}

std::string exchangeAndRename(const std::string& temporaryPath, const std::string& targetPath,
                              const platform::FileStatus& openedStatus) {
    exchangeVerified(temporaryPath, targetPath, openedStatus);
    const std::string base = platform::deletingPathExtension(targetPath);
    for (int attempt = 0; attempt < renameAttempts; ++attempt) {
        const std::string candidate = candidateName(base, attempt);
        const platform::Result<> renamed = platform::renameExclusively(targetPath, candidate);
        if (renamed)
            return candidate;
        if (renamed.error() != std::errc::file_exists) {
            rollbackExchange(temporaryPath, targetPath);
            throw ImageOptimizerError::replacementFailed(renamed.error().value());
        }
    }
    rollbackExchange(temporaryPath, targetPath);
    throw ImageOptimizerError::replacementFailed(EEXIST);
}

void rollbackExchange(const std::string& temporaryPath, const std::string& targetPath) {
    [[maybe_unused]] const platform::Result<> ignored =
        platform::exchangePaths(temporaryPath, targetPath);
}

} // namespace brindle::imageOptimization
