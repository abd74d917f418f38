#include "Platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace brindle::platform {

namespace {

struct DirectoryClose {
    void operator()(DIR* directory) const noexcept { closedir(directory); }
};

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

Result<std::vector<std::string>> directoryEntryNames(const std::string& path) {
    // opendir opens close-on-exec.
    const std::unique_ptr<DIR, DirectoryClose> directory(opendir(path.c_str()));
    if (!directory)
        return lastErrnoCode();
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(directory.get());
        if (entry == nullptr)
            break;
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    if (errno != 0)
        return lastErrnoCode();
    return names;
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
