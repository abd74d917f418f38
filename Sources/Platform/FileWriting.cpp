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

Result<> writeAll(DescriptorRef file, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(file.get(), bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        // A write that takes nothing would be asked again for ever: the device is full.
        if (written <= 0)
            return written < 0 ? lastErrnoCode() : errnoCode(ENOSPC);
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return success();
}

void startWriteback(DescriptorRef file, std::int64_t offset, std::int64_t length) {
    sync_file_range(file.get(), offset, length, SYNC_FILE_RANGE_WRITE);
}

Result<> synchronize(DescriptorRef file) {
    if (fsync(file.get()) != 0)
        return lastErrnoCode();
    return success();
}

Result<Directory> openDirectory(const std::string& path, LastLink lastLink) {
    const int linkFlag = lastLink == LastLink::refuse ? O_NOFOLLOW : 0;
    FileDescriptor folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | linkFlag | O_CLOEXEC));
    if (!folder.isOpen())
        return lastErrnoCode();
    return Directory(std::move(folder));
}

} // namespace brindle::platform
