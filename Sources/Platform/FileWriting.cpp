#include "Platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle::platform {

Result<FileDescriptor> createExclusiveFile(const std::string& path, mode_t permissions) {
    FileDescriptor file(
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions));
    if (!file.isOpen())
        return lastErrnoCode();
    // The umask may have narrowed the mode given to open.
    if (fchmod(file.get(), permissions) != 0)
        return lastErrnoCode();
    return file;
}

Result<> writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        // A write that takes nothing would be asked again for ever: the device is full.
        if (written <= 0)
            return written < 0 ? lastErrnoCode() : errnoCode(ENOSPC);
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return success();
}

void startWriteback(int descriptor, std::int64_t offset, std::int64_t length) {
    sync_file_range(descriptor, offset, length, SYNC_FILE_RANGE_WRITE);
}

Result<> synchronize(int descriptor) {
    if (fsync(descriptor) != 0)
        return lastErrnoCode();
    return success();
}

Result<FileDescriptor> openDirectory(const std::string& path) {
    FileDescriptor folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.isOpen())
        return lastErrnoCode();
    return folder;
}

} // namespace brindle::platform
