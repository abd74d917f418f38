#include "MetadataCore/DownloadDestinationMover.h"

#include "MetadataCore/DownloadDestinationMoverError.h"
#include "MetadataCore/RequestPath.h"
#include "Platform/FileMove.h"
#include "Platform/Path.h"
#include "Platform/SystemError.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle {

namespace {

using Error = DownloadDestinationMoverError;

// Only an absolute path counts: "~" means nothing to the file system.
std::string validatedSource(const std::string& path) {
    if (!isUsableRequestPath(path))
        throw Error::invalidSource();
    std::string standardized = platform::standardizedPath(path);
    struct stat status {};
    if (lstat(standardized.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != geteuid())
        throw Error::invalidSource();
    if (platform::lastPathComponent(standardized).empty())
        throw Error::invalidSource();
    return standardized;
}

std::string validatedDirectory(const std::string& path) {
    if (!isUsableRequestPath(path))
        throw Error::invalidDestinationDirectory();
    std::string standardized = platform::standardizedPath(path);
    struct stat status {};
    if (lstat(standardized.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        throw Error::invalidDestinationDirectory();
    if (access(standardized.c_str(), W_OK) != 0)
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

// Only a regular file of the user's own is ever replaced.
void replaceExistingItem(const std::string& destination, const std::string& source) {
    struct stat status {};
    if (lstat(destination.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != geteuid())
        throw Error::invalidDestinationDirectory();
    if (const int error = platform::replaceItem(destination, source))
        throw Error::moveFailed(platform::errnoDescription(error));
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
    struct stat existing {};
    if (lstat(destination.c_str(), &existing) == 0)
        return resolveExisting(source, destination, overwriteExisting);
    const int error = platform::moveItemWithoutReplacing(source, destination);
    if (error == 0)
        return {destination, true, false};
    if (error == EEXIST)
        return resolveExisting(source, destination, overwriteExisting);
    throw Error::moveFailed(platform::errnoDescription(error));
}

void DownloadDestinationMover::discard(const std::string& path) const {
    const std::string source = validatedSource(path);
    if (unlink(source.c_str()) != 0)
        throw Error::moveFailed(platform::errnoDescription(errno));
}

} // namespace brindle
