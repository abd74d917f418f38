#include "Platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle::platform {

namespace {

FileStatus::Type typeOf(mode_t mode) {
    if (S_ISREG(mode))
        return FileStatus::Type::regular;
    if (S_ISDIR(mode))
        return FileStatus::Type::directory;
    if (S_ISLNK(mode))
        return FileStatus::Type::symbolicLink;
    return FileStatus::Type::other;
}

FileStatus converted(const struct stat& status) {
    FileStatus result;
    result.identity = {status.st_dev, status.st_ino};
    result.type = typeOf(status.st_mode);
    result.permissions = status.st_mode & 07777;
    result.owner = status.st_uid;
    result.size = status.st_size;
    result.linkCount = status.st_nlink;
    result.accessTime = status.st_atim;
    result.modificationTime = status.st_mtim;
    result.statusChangeTime = status.st_ctim;
    return result;
}

} // namespace

bool FileStatus::isOwnedByCurrentUser() const {
    return owner == geteuid();
}

bool FileStatus::isSafeFromOtherUsers() const {
    return (owner == geteuid() || owner == 0) && (permissions & (S_IWGRP | S_IWOTH)) == 0;
}

bool FileStatus::isUnchangedFrom(const FileStatus& earlier) const {
    return identity == earlier.identity && size == earlier.size &&
           modificationTime.tv_sec == earlier.modificationTime.tv_sec &&
           modificationTime.tv_nsec == earlier.modificationTime.tv_nsec;
}

Result<FileStatus> fileStatus(DescriptorRef file) {
    struct stat status {};
    if (fstat(file.get(), &status) != 0)
        return lastErrnoCode();
    return converted(status);
}

Result<FileStatus> fileStatusAtPath(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0)
        return lastErrnoCode();
    return converted(status);
}

Result<FileStatus> fileStatusInFolder(const Directory& folder, const std::string& name) {
    struct stat status {};
    if (fstatat(folder.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return lastErrnoCode();
    return converted(status);
}

Result<FileStatus> fileStatusFollowingLinks(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return lastErrnoCode();
    return converted(status);
}

std::optional<timespec> birthTime(DescriptorRef file) {
    struct statx status {};
    if (statx(file.get(), "", AT_EMPTY_PATH, STATX_BTIME, &status) != 0)
        return std::nullopt;
    if ((status.stx_mask & STATX_BTIME) == 0)
        return std::nullopt;
    return timespec{static_cast<time_t>(status.stx_btime.tv_sec),
                    static_cast<long>(status.stx_btime.tv_nsec)};
}

} // namespace brindle::platform
