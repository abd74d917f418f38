#include "Platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace brindle::platform {

namespace {

FileStatus::Type typeOfEntry(unsigned char type) {
    switch (type) {
    case DT_REG:
        return FileStatus::Type::regular;
    case DT_DIR:
        return FileStatus::Type::directory;
    case DT_LNK:
        return FileStatus::Type::symbolicLink;
    default:
        return FileStatus::Type::other;
    }
}

// The statfs types of the file systems that compare names without regard to case. Not all of
// them are in <linux/magic.h>.
constexpr std::array<unsigned long, 8> caseInsensitiveFileSystems = {
    0x4d44,     // FAT (msdos, vfat)
    0x2011BAB0, // exFAT
    0x5346544e, // NTFS (ntfs, ntfs3)
    0x482b,     // HFS+
    0x4244,     // HFS
    0x517B,     // SMB
    0xFF534D42, // CIFS
    0xFE534D42, // SMB2
};

} // namespace

Result<std::vector<DirectoryEntry>> directoryEntries(const Directory& folder) {
    // The offset is the open folder's own: a listing starts from the top however often it is
    // made. Straight from the kernel into a buffer on the stack: the host lists a folder at every
    // start, where each system call counts, and the folder is usually empty.
    if (lseek(folder.get(), 0, SEEK_SET) != 0)
        return lastErrnoCode();
    std::vector<DirectoryEntry> entries;
    alignas(dirent64) char buffer[8192];
    for (;;) {
        const long count = syscall(SYS_getdents64, folder.get(), buffer, sizeof buffer);
        if (count < 0)
            return lastErrnoCode();
        if (count == 0)
            return entries;
        for (long offset = 0; offset < count;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            FileStatus::Type type = typeOfEntry(entry->d_type);
            if (entry->d_type == DT_UNKNOWN) {
                const Result<FileStatus> status = fileStatusInFolder(folder, name);
                type = status ? status->type : FileStatus::Type::other;
            }
            entries.push_back({std::move(name), type});
        }
    }
}

Result<bool> directoryDistinguishesCase(const std::string& path) {
    const FileDescriptor directory(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.isOpen())
        return failure<bool>(lastErrnoCode());
    struct statfs fileSystem {};
    if (fstatfs(directory.get(), &fileSystem) != 0)
        return failure<bool>(lastErrnoCode());
    const auto type = static_cast<unsigned long>(fileSystem.f_type);
    if (std::find(caseInsensitiveFileSystems.begin(), caseInsensitiveFileSystems.end(), type) !=
        caseInsensitiveFileSystems.end())
        return false;
    // File systems without inode flags answer ENOTTY or the like: they have no case folding.
    int flags = 0;
    if (ioctl(directory.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0)
        return false;
    return true;
}

} // namespace brindle::platform
