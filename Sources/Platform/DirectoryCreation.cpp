#include "Platform/DirectoryCreation.h"

#include "Platform/SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle::platform {

DirectoryCreationError::DirectoryCreationError(std::string path, int errorNumber)
    : errorNumber_(errorNumber),
      message_("无法创建文件夹“" + path + "”：" + errnoDescription(errorNumber)) {}

namespace {

bool isExistingDirectory(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The mode given to mkdir is narrowed by the umask; the folder gets exactly `permissions`
// through a descriptor, so a link swapped in meanwhile is never followed.
void applyPermissions(const std::string& path, mode_t permissions) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        throw DirectoryCreationError(path, errno);
    const int result = fchmod(fd, permissions);
    const int savedErrno = errno;
    close(fd);
    if (result != 0)
        throw DirectoryCreationError(path, savedErrno);
}

void createOneDirectory(const std::string& path, mode_t permissions) {
    if (mkdir(path.c_str(), permissions) == 0) {
        applyPermissions(path, permissions);
        return;
    }
    const int savedErrno = errno;
    if (savedErrno == EEXIST && isExistingDirectory(path))
        return;
    throw DirectoryCreationError(path, savedErrno == EEXIST ? ENOTDIR : savedErrno);
}

} // namespace

void createDirectoryWithIntermediates(const std::string& path, mode_t permissions) {
    if (path.empty())
        throw DirectoryCreationError(path, ENOENT);
    if (isExistingDirectory(path))
        return;
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (path[slash - 1] == '/')
            continue;
        createOneDirectory(path.substr(0, slash), permissions);
    }
    if (path.back() != '/')
        createOneDirectory(path, permissions);
}

} // namespace brindle::platform
