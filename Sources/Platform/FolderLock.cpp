#include "Platform/Files.h"

#include <sys/file.h>

namespace brindle::platform {

namespace {

Result<> lock(int folder, int operation) {
    int result = 0;
    do {
        result = flock(folder, operation);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? success() : lastErrnoCode();
}

} // namespace

Result<FolderLock> FolderLock::exclusive(const std::string& path) {
    auto folder = openDirectory(path);
    if (!folder)
        return folder.error();
    if (auto locked = lock(folder->get(), LOCK_EX | LOCK_NB); !locked)
        return locked.error();
    return FolderLock(std::move(*folder));
}

Result<FolderLock> FolderLock::shared(const std::string& path) {
    auto folder = openDirectory(path);
    if (!folder)
        return folder.error();
    if (auto locked = lock(folder->get(), LOCK_SH); !locked)
        return locked.error();
    return FolderLock(std::move(*folder));
}

Result<> FolderLock::share() {
    return lock(folder_.get(), LOCK_SH);
}

} // namespace brindle::platform
