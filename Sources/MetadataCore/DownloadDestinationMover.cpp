#include "MetadataCore/DownloadDestinationMover.h"

#include "MetadataCore/DownloadDestinationMoverError.h"
#include "MetadataCore/RequestPath.h"
#include "Platform/Files.h"
#include "Platform/Moves.h"
#include "Platform/PathsAndText.h"
#include "Platform/Result.h"

namespace brindle {

namespace {

using Error = DownloadDestinationMoverError;

// Only an absolute path counts: "~" means nothing to the file system.
std::string validatedSource(const std::string& path) {
    if (!isUsableRequestPath(path))
        throw Error::invalidSource();
    std::string standardized = platform::standardizedPath(path);
    const auto status = platform::fileStatusAtPath(standardized);
    if (!status || !status->isOwnRegularFile())
        throw Error::invalidSource();
    if (platform::lastPathComponent(standardized).empty())
        throw Error::invalidSource();
    return standardized;
}

std::string validatedDirectory(const std::string& path) {
    if (!isUsableRequestPath(path))
        throw Error::invalidDestinationDirectory();
    std::string standardized = platform::standardizedPath(path);
    const auto status = platform::fileStatusAtPath(standardized);
    if (!status || !status->isDirectory() || !platform::isWritableDirectory(standardized))
        throw Error::invalidDestinationDirectory();
    return standardized;
}

const std::string& validatedFilename(const std::string& name) {
    if (name.empty() || name.size() > maximumFilenameBytes || name.find('\0') != std::string::npos)
        throw Error::invalidDestinationDirectory();
    if (name == "." || name == ".." || name.find('/') != std::string::npos)
        throw Error::invalidDestinationDirectory();
    if (platform::lastPathComponent(name) != name)
        throw Error::invalidDestinationDirectory();
    return name;
}

[[noreturn]] void throwMoveFailed(const std::error_code& error) {
    throw Error::moveFailed(platform::errnoDescription(error.value()));
}

// Only a regular file of the user's own is ever replaced.
void replaceExistingItem(const std::string& destination, const std::string& source) {
    const auto status = platform::fileStatusAtPath(destination);
    if (!status || !status->isOwnRegularFile())
        throw Error::invalidDestinationDirectory();
    if (const platform::Result<> replaced = platform::replaceItem(source, destination); !replaced)
        throwMoveFailed(replaced.error());
}

DownloadDestinationMoveResult
resolveExisting(const std::string& source, const std::string& destination, bool overwriteExisting) {
    if (!overwriteExisting)
        return {destination, false, true};
    replaceExistingItem(destination, source);
    return {destination, true, false};
}

} // namespace

DownloadDestinationMoveResult
DownloadDestinationMover::move(const std::string& path, const std::string& toDirectory,
                               const std::optional<std::string>& destinationFilename,
                               bool overwriteExisting) const {
    const std::string source = validatedSource(path);
    const std::string directory = validatedDirectory(toDirectory);
    const std::string filename =
        validatedFilename(destinationFilename.value_or(platform::lastPathComponent(source)));
    const std::string destination = platform::appendingPathComponent(directory, filename);
    if (destination == source)
        return {source, true, false};

    // Linux has no file coordinator; the no-replace rename is what keeps a file that appears
    // at the destination meanwhile from being lost.
    if (platform::fileStatusAtPath(destination))
        return resolveExisting(source, destination, overwriteExisting);
    const platform::Result<> moved = platform::moveItemWithoutReplacing(source, destination);
    if (moved)
        return {destination, true, false};
    if (moved.error() == std::errc::file_exists)
        return resolveExisting(source, destination, overwriteExisting);
    throwMoveFailed(moved.error());
}

void DownloadDestinationMover::discard(const std::string& path) const {
    const std::string source = validatedSource(path);
    if (const platform::Result<> removed = platform::removeFile(source); !removed)
        throwMoveFailed(removed.error());
}

} // namespace brindle
