#include "Platform/Files.h"

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brindle::platform {

namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The names in the open folder.
Result<std::vector<std::string>> namesIn(const Directory& folder) {
    Result<std::vector<DirectoryEntry>> entries = directoryEntries(folder);
    if (!entries)
        return entries.error();
    std::vector<std::string> names;
    for (DirectoryEntry& entry : *entries)
        names.push_back(std::move(entry.name));
    return names;
}

Result<> copyEntry(int fromFolder, int toFolder, const std::string& name);

// The new folder stays private and writable until its entries are in; only then does it take
// the source's permission bits (a read-only source folder must still be copied into).
Result<> copyFolder(int fromFolder, const std::string& fromName, int toFolder,
                    const std::string& toName, mode_t mode) {
    const Directory from(FileDescriptor(openat(fromFolder, fromName.c_str(), folderFlags)));
    if (!from.isOpen())
        return lastErrnoCode();
    if (mkdirat(toFolder, toName.c_str(), 0700) != 0)
        return lastErrnoCode();
    FileDescriptor to(openat(toFolder, toName.c_str(), folderFlags));
    if (!to.isOpen())
        return lastErrnoCode();
    Result<std::vector<std::string>> names = namesIn(from);
    if (!names)
        return names.error();
    for (const std::string& entry : *names) {
        if (Result<> copied = copyEntry(from.get(), to.get(), entry); !copied)
            return copied;
    }
    if (fchmod(to.get(), mode & 07777) != 0)
        return lastErrnoCode();
    return success();
}

Result<> copyRegularFile(int fromFolder, int toFolder, const std::string& name, mode_t mode) {
    FileDescriptor from(openat(fromFolder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!from.isOpen())
        return lastErrnoCode();
    FileDescriptor to(
        openat(toFolder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!to.isOpen())
        return lastErrnoCode();
    const Result<FileStatus> source = fileStatus(from);
    if (!source)
        return source.error();
    if (Result<> copied = copyFileData(from, to, source->size); !copied)
        return copied;
    if (fchmod(to.get(), mode & 07777) != 0)
        return lastErrnoCode();
    if (const int error = to.close())
        return errnoCode(error);
    return success();
}

Result<> copyLink(int fromFolder, int toFolder, const std::string& name) {
    std::vector<char> target(PATH_MAX + 1);
    const ssize_t length = readlinkat(fromFolder, name.c_str(), target.data(), target.size());
    if (length < 0)
        return lastErrnoCode();
    if (static_cast<size_t>(length) >= target.size())
        return errnoCode(ENAMETOOLONG);
    target[static_cast<size_t>(length)] = '\0';
    if (symlinkat(target.data(), toFolder, name.c_str()) != 0)
        return lastErrnoCode();
    return success();
}

Result<> copyEntry(int fromFolder, int toFolder, const std::string& name) {
    struct stat status {};
    if (fstatat(fromFolder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return lastErrnoCode();
    if (S_ISDIR(status.st_mode))
        return copyFolder(fromFolder, name, toFolder, name, status.st_mode);
    if (S_ISREG(status.st_mode))
        return copyRegularFile(fromFolder, toFolder, name, status.st_mode);
    if (S_ISLNK(status.st_mode))
        return copyLink(fromFolder, toFolder, name);
    return errnoCode(ENOTSUP);
}

Result<> removeEntry(int folder, const std::string& name) {
    if (unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT)
        return success();
    if (errno != EISDIR)
        return lastErrnoCode();
    const Directory inner(FileDescriptor(openat(folder, name.c_str(), folderFlags)));
    if (!inner.isOpen())
        return lastErrnoCode();
    // A folder without write permission (copied from a read-only source) cannot lose entries.
    fchmod(inner.get(), 0700);
    Result<std::vector<std::string>> names = namesIn(inner);
    if (!names)
        return names.error();
    for (const std::string& entry : *names) {
        if (Result<> removed = removeEntry(inner.get(), entry); !removed)
            return removed;
    }
    if (unlinkat(folder, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        return lastErrnoCode();
    return success();
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

Result<> copyDirectoryTree(const std::string& source, const std::string& destination) {
    struct stat status {};
    if (lstat(source.c_str(), &status) != 0)
        return lastErrnoCode();
    if (!S_ISDIR(status.st_mode))
        return errnoCode(ENOTDIR);
    FileDescriptor from(open(parentOf(source).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    FileDescriptor to(open(parentOf(destination).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!from.isOpen() || !to.isOpen())
        return lastErrnoCode();
    return copyFolder(from.get(), nameOf(source), to.get(), nameOf(destination), status.st_mode);
}

Result<> removeDirectoryTree(const std::string& path) {
    FileDescriptor parent(open(parentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.isOpen())
        return errno == ENOENT ? success() : lastErrnoCode();
    return removeEntry(parent.get(), nameOf(path));
}

} // namespace brindle::platform
