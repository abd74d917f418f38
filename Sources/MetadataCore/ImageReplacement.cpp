#include "ImageOptimizerSteps.h"
#include "MetadataCore/ImageOptimizerError.h"

#include "Platform/Moves.h"
#include "Platform/PathsAndText.h"

#include <system_error>

namespace brindle::imageOptimization {
namespace {

constexpr int renameAttempts = 1000; // the plain name, then " (1)" to " (999)"

std::string candidateName(const std::string& base, int attempt) {
    if (attempt == 0)
        return base + ".webp";
    return base + " (" + std::to_string(attempt) + ").webp";
}

// Swaps, then makes sure the file that left the target path is the one that was converted.
void exchangeVerified(platform::TemporaryOutput& temporary,
                      const platform::FileStatus& openedStatus,
                      platform::TemporaryOutput::IfInterrupted ifInterrupted) {
    const platform::Result<bool> exchanged = temporary.exchange(
        [&](const platform::FileStatus& displaced) {
            return displaced.isUnchangedFrom(openedStatus);
        },
        ifInterrupted);
    if (!exchanged)
        throw ImageOptimizerError::replacementFailed(exchanged.error().value());
    if (!*exchanged)
        throw ImageOptimizerError::targetChanged();
}

} // namespace

void validateTargetIdentity(const std::string& path, const platform::FileStatus& openedStatus) {
    const auto status = platform::fileStatusAtPath(path);
    if (!status || !status->isOwnRegularFile() || !status->isUnchangedFrom(openedStatus))
        throw ImageOptimizerError::targetChanged();
}

void exchangeInPlace(platform::TemporaryOutput& temporary,
                     const platform::FileStatus& openedStatus) {
    exchangeVerified(temporary, openedStatus, platform::TemporaryOutput::IfInterrupted::stays);
    temporary.commit();
}

std::string exchangeAndRename(platform::TemporaryOutput& temporary, const std::string& targetPath,
                              const platform::FileStatus& openedStatus) {
    // Between the swap and the rename the WebP content lies under the image's old name.
    exchangeVerified(temporary, openedStatus, platform::TemporaryOutput::IfInterrupted::isUndone);
    const std::string base = platform::deletingPathExtension(targetPath);
    for (int attempt = 0; attempt < renameAttempts; ++attempt) {
        const std::string candidate = candidateName(base, attempt);
        const platform::Result<> renamed = platform::renameExclusively(targetPath, candidate);
        if (renamed) {
            temporary.commit();
            return candidate;
        }
        if (renamed.error() != std::errc::file_exists) {
            temporary.swapBack();
            throw ImageOptimizerError::replacementFailed(renamed.error().value());
        }
    }
    temporary.swapBack();
    throw ImageOptimizerError::replacementFailed(static_cast<int>(std::errc::file_exists));
}

} // namespace brindle::imageOptimization
