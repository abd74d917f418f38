#include "Platform/PendingFile.h"

#include "Platform/Path.h"
#include "Platform/ProcessJournal.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace brindle::platform {

Result<PendingFile> PendingFile::create(const std::string& folderPath, const std::string& name,
                                        mode_t permissions) {
    FileDescriptor folder(open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen())
        return lastErrnoCode();
    std::string path = appendingPathComponent(folderPath, name);
    FileDescriptor file(openat(folder.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, permissions));
    if (file.isOpen())
        return PendingFile(std::move(folder), std::move(path), std::move(file), false);
    // FAT and several network file systems hold no nameless files (older kernels say EISDIR).
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return lastErrnoCode();
    processJournal::noteTemporaryFile(path);
    file = FileDescriptor(openat(folder.get(), name.c_str(),
                                 O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions));
    if (!file.isOpen())
        return lastErrnoCode();
    return PendingFile(std::move(folder), std::move(path), std::move(file), true);
}

std::string PendingFile::name() const {
    return lastPathComponent(path_);
}

Result<> PendingFile::giveName() {
    if (named_)
        return success();
    processJournal::noteTemporaryFile(path_);
    // Linking a nameless file through its descriptor alone takes a privilege; through /proc, not.
    const std::string self = "/proc/self/fd/" + std::to_string(file_.get());
    if (linkat(AT_FDCWD, self.c_str(), folder_.get(), name().c_str(), AT_SYMLINK_FOLLOW) != 0)
        return lastErrnoCode();
    named_ = true;
    return success();
}

Result<> PendingFile::exchangeWith(const std::string& otherName) const {
    if (renameat2(folder_.get(), name().c_str(), folder_.get(), otherName.c_str(),
                  RENAME_EXCHANGE) != 0)
        return lastErrnoCode();
    return success();
}

Result<FileStatus> PendingFile::statusOfName() const {
    return fileStatusInFolder(folder_.get(), name());
}

Result<> PendingFile::removeName() const {
    if (unlinkat(folder_.get(), name().c_str(), 0) != 0)
        return lastErrnoCode();
    return success();
}

} // namespace brindle::platform
