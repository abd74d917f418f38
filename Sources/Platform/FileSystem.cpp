#include "Platform/Files.h"

#include <cstdio>
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

Result<> setPermissions(DescriptorRef file, mode_t permissions) {
    if (fchmod(file.get(), permissions) != 0)
        return lastErrnoCode();
    return success();
}

Result<> removeFile(const std::string& path) {
    if (unlink(path.c_str()) != 0)
        return lastErrnoCode();
    return success();
}

Result<> removeFileOrEmptyFolder(const std::string& path) {
    if (std::remove(path.c_str()) != 0)
        return lastErrnoCode();
    return success();
}

std::vector<FileIdentity> enclosingFolders(const std::string& path) {
    std::vector<FileIdentity> folders;
    FileDescriptor folder(open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    while (folder.isOpen() && fstat(folder.get(), &status) == 0) {
        const FileIdentity identity{status.st_dev, status.st_ino};
        if (!folders.empty() && folders.back() == identity)
            break; // the root is its own parent
        folders.push_back(identity);
        folder = FileDescriptor(openat(folder.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    return folders;
}

} // namespace brindle::platform
