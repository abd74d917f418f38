#include "Platform/Files.h"

#include <sys/file.h>

namespace brindle::platform {

namespace {

Result<> lock(const Directory& folder, int operation) {
    int result = 0;
    do {
        result = flock(folder.get(), operation);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? success() : lastErrnoCode();
}

} // namespace

Result<FolderLock> FolderLock::exclusive(const std::string& path) {
    auto folder = openDirectory(path);
    if (!folder)
        return folder.error();
    if (auto locked = lock(*folder, LOCK_EX | LOCK_NB); !locked)
        return locked.error();
    return FolderLock(std::move(*folder));
}

Result<FolderLock> FolderLock::shared(const std::string& path) {
    auto folder = openDirectory(path);
    if (!folder)
        return folder.error();
    if (auto locked = lock(*folder, LOCK_SH); !locked)
        return locked.error();
    return FolderLock(std::move(*folder));
}

Result<> FolderLock::share() {
    return lock(folder_, LOCK_SH);
}

} // namespace brindle::platform
