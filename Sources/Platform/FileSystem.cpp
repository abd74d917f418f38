#include "Platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle::platform {

bool isExecutableFile(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    return faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

bool isWritableDirectory(const std::string& path) {
    return access(path.c_str(), W_OK) == 0;
}

Result<> setPermissions(int descriptor, mode_t permissions) {
    if (fchmod(descriptor, permissions) != 0)
        return lastErrnoCode();
    return success();
}

Result<> removeFile(const std::string& path) {
    if (unlink(path.c_str()) != 0)
        return lastErrnoCode();
    return success();
}

} // namespace brindle::platform
