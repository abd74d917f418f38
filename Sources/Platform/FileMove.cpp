#include "Platform/FileMove.h"

#include "Platform/ExtendedAttributes.h"
#include "Platform/FileDescriptor.h"
#include "Platform/Path.h"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brindle::platform {

namespace {

enum class Placement { keepExisting, replaceExisting };

constexpr size_t copyBufferSize = 1 << 20;
constexpr int temporaryNameAttempts = 16;

int lastError(int fallback = EIO) {
    return errno != 0 ? errno : fallback;
}

// Some file systems (NFS, many FUSE ones) refuse the no-replace flag; a hard link is just as
// exclusive there. Where links are refused too, a check just before the rename is the least
// that can be done.
int renameWithoutReplacing(int fromDirectory, const char* from, int toDirectory, const char* to) {
    if (renameat2(fromDirectory, from, toDirectory, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL)
        return errno;
    if (linkat(fromDirectory, from, toDirectory, to, 0) == 0) {
        unlinkat(fromDirectory, from, 0);
        return 0;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS)
        return errno;
    struct stat existing {};
    if (fstatat(toDirectory, to, &existing, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return renameat(fromDirectory, from, toDirectory, to) == 0 ? 0 : errno;
}

int place(int fromDirectory, const char* from, int toDirectory, const char* to,
          Placement placement) {
    if (placement == Placement::keepExisting)
        return renameWithoutReplacing(fromDirectory, from, toDirectory, to);
    return renameat(fromDirectory, from, toDirectory, to) == 0 ? 0 : errno;
}

int copyContents(int from, int to) {
    std::vector<char> buffer(copyBufferSize);
    while (true) {
        const ssize_t count = read(from, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errno;
        if (count == 0)
            return 0;
        for (ssize_t written = 0; written < count;) {
            const ssize_t result =
                write(to, buffer.data() + written, static_cast<size_t>(count - written));
            if (result < 0 && errno == EINTR)
                continue;
            if (result <= 0)
                return lastError(ENOSPC);
            written += result;
        }
    }
}

bool isUserAttribute(std::string_view name) {
    return name.starts_with("user.");
}

// The user's attributes travel with the file. A destination without user attributes (FAT
// sticks) cannot keep them, and that must not stop the move; attributes of the system's own
// namespaces follow the destination's policy and are copied only where it allows.
int copyAttributes(int from, int to) {
    const AttributeRead<std::string> names = readStoredAttributeNames(from);
    if (names.error == ENOTSUP)
        return 0;
    if (names.error != 0)
        return names.error;
    const std::string list = names.value.value_or("");
    for (size_t start = 0; start < list.size();) {
        const std::string name = list.c_str() + start;
        start += name.size() + 1;
        const AttributeRead<std::string> value = readStoredAttribute(from, name);
        if (value.error != 0)
            return value.error;
        if (!value.value)
            continue;
        if (setStoredAttribute(to, name, *value.value) == 0)
            continue;
        if (errno == ENOTSUP && isUserAttribute(name))
            return 0;
        if (isUserAttribute(name))
            return errno;
    }
    return 0;
}

int copyFile(int from, const struct stat& status, int to) {
    if (int error = copyContents(from, to))
        return error;
    if (int error = copyAttributes(from, to))
        return error;
    if (fchmod(to, status.st_mode & 07777) != 0)
        return errno;
    const timespec times[2] = {status.st_atim, status.st_mtim};
    if (futimens(to, times) != 0)
        return errno;
    return fsync(to) == 0 ? 0 : errno;
}

std::string randomSuffix() {
    static constexpr char digits[] = "0123456789abcdef";
    std::random_device device;
    std::string suffix;
    for (int i = 0; i < 16; ++i)
        suffix += digits[device() % 16];
    return suffix;
}

struct TemporaryFile {
    std::string name;
    int descriptor = -1;
    int error = 0;
};

TemporaryFile createHiddenTemporaryFile(int directory) {
    for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
        std::string name = ".brindle-move-" + randomSuffix();
        const int descriptor = openat(directory, name.c_str(),
                                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (descriptor >= 0)
            return {std::move(name), descriptor, 0};
        if (errno != EEXIST)
            return {{}, -1, errno};
    }
    return {{}, -1, EEXIST};
}

// Removes the source only while its path still names the file that was copied.
void removeCopiedSource(const std::string& source, const struct stat& copied) {
    struct stat current {};
    if (lstat(source.c_str(), &current) != 0)
        return;
    if (current.st_dev == copied.st_dev && current.st_ino == copied.st_ino)
        unlink(source.c_str());
}

int copyAcrossFileSystems(const std::string& source, const std::string& destination,
                          Placement placement) {
    FileDescriptor from(open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!from.isOpen())
        return errno;
    struct stat status {};
    if (fstat(from.get(), &status) != 0)
        return errno;
    if (!S_ISREG(status.st_mode))
        return EINVAL;

    const std::string folder = deletingLastPathComponent(destination);
    const std::string name = lastPathComponent(destination);
    FileDescriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory.isOpen())
        return errno;

    TemporaryFile temporary = createHiddenTemporaryFile(directory.get());
    if (temporary.error != 0)
        return temporary.error;
    FileDescriptor to(temporary.descriptor);
    int error = copyFile(from.get(), status, to.get());
    if (error == 0)
        error = to.close();
    if (error == 0)
        error = place(directory.get(), temporary.name.c_str(), directory.get(), name.c_str(),
                      placement);
    if (error != 0) {
        unlinkat(directory.get(), temporary.name.c_str(), 0);
        return error;
    }
    fsync(directory.get());
    removeCopiedSource(source, status);
    return 0;
}

int move(const std::string& source, const std::string& destination, Placement placement) {
    const int error = place(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), placement);
    if (error != EXDEV)
        return error;
    return copyAcrossFileSystems(source, destination, placement);
}

} // namespace

int moveItemWithoutReplacing(const std::string& source, const std::string& destination) {
    return move(source, destination, Placement::keepExisting);
}

int replaceItem(const std::string& destination, const std::string& source) {
    return move(source, destination, Placement::replaceExisting);
}

} // namespace brindle::platform
