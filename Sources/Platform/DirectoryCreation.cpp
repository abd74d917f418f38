#include "Platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace brindle::platform {

namespace {

bool isExistingDirectory(const std::string& path) {
    const Result<FileStatus> status = fileStatusFollowingLinks(path);
    return status && status->isDirectory();
}

} // namespace

// Through a descriptor, so a link swapped in meanwhile is never followed.
Result<> setDirectoryPermissions(const std::string& path, mode_t permissions) {
    const Result<Directory> folder = openDirectory(path);
    if (!folder)
        return folder.error();
    return setPermissions(*folder, permissions);
}

Result<> createDirectory(const std::string& path, mode_t permissions) {
    if (path.empty())
        return errnoCode(ENOENT);
    // The mode given to mkdir is narrowed by the umask.
    if (mkdir(path.c_str(), permissions) == 0)
        return setDirectoryPermissions(path, permissions);
    const int error = errno;
    if (error == EEXIST && isExistingDirectory(path))
        return success();
    return errnoCode(error == EEXIST ? ENOTDIR : error);
}

} // namespace brindle::platform
