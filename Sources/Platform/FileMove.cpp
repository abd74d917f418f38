#include "Platform/Moves.h"

#include "Platform/Attributes.h"
#include "Platform/Files.h"
#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brindle::platform {

namespace {

enum class Placement { keepExisting, replaceExisting };

constexpr int temporaryNameAttempts = 16;

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
    if (faccessat(toDirectory, to, F_OK, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return renameat(fromDirectory, from, toDirectory, to) == 0 ? 0 : errno;
}

int place(int fromDirectory, const char* from, int toDirectory, const char* to,
          Placement placement) {
    if (placement == Placement::keepExisting)
        return renameWithoutReplacing(fromDirectory, from, toDirectory, to);
    return renameat(fromDirectory, from, toDirectory, to) == 0 ? 0 : errno;
}

bool isUserAttribute(std::string_view name) {
    return name.starts_with("user.");
}

// Where a download came from matters most once the destination runs out of room for attributes
// (ext4 gives all of a file's attributes one block): those attributes are copied first.
std::vector<std::string> attributesInCopyOrder(std::vector<std::string> stored) {
    static constexpr std::array<std::string_view, 2> downloadMarks = {"com.apple.quarantine",
                                                                      "com.apple.provenance"};
    std::vector<std::string> ordered;
    for (std::string& name : carriedAttributeNames(downloadMarks)) {
        if (std::ranges::find(stored, name) != stored.end())
            ordered.push_back(std::move(name));
    }
    for (std::string& name : stored) {
        if (std::ranges::find(ordered, name) == ordered.end())
            ordered.push_back(std::move(name));
    }
    return ordered;
}

// The user's attributes travel with the file as far as the destination can hold them. One
// without user attributes at all (FAT sticks), or without room for one more, must not stop the
// move; attributes of the system's own namespaces follow the destination's policy and are
// copied only where it allows.
int copyAttributes(DescriptorRef from, DescriptorRef to) {
    Result<std::vector<std::string>> names = storedAttributeNames(from);
    if (!names && names.error() == std::errc::not_supported)
        return 0;
    if (!names)
        return names.error().value();
    for (const std::string& name : attributesInCopyOrder(std::move(*names))) {
        const Result<AttributeValue> value = readStoredAttribute(from, name);
        if (!value)
            return value.error().value();
        if (!*value)
            continue;
        const Result<> copied = setStoredAttribute(to, name, **value);
        if (copied || !isUserAttribute(name) || isOutOfAttributeRoom(copied.error()))
            continue;
        return copied.error() == std::errc::not_supported ? 0 : copied.error().value();
    }
    return 0;
}

int copyFile(DescriptorRef from, const FileStatus& status, DescriptorRef to) {
    if (const Result<> copied = copyFileData(from, to, status.size); !copied)
        return copied.error().value();
    // A host asked to end stops before the flush, the slow part, and takes its copy back out.
    if (terminationRequested())
        return ECANCELED;
    if (int error = copyAttributes(from, to))
        return error;
    if (const Result<> changed = setPermissions(to, status.permissions); !changed)
        return changed.error().value();
    const timespec times[2] = {status.accessTime, status.modificationTime};
    if (futimens(to.get(), times) != 0)
        return errno;
    return fsync(to.get()) == 0 ? 0 : errno;
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
    FileDescriptor file;
    int error = 0;
};

TemporaryFile createHiddenTemporaryFile(int directory, const std::string& folder) {
    for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
        std::string name = ".brindle-move-" + randomSuffix();
        processJournal::noteTemporaryFile(appendingPathComponent(folder, name));
        FileDescriptor file(openat(directory, name.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.isOpen())
            return {std::move(name), std::move(file), 0};
        if (errno != EEXIST)
            return {{}, FileDescriptor(), errno};
    }
    return {{}, FileDescriptor(), EEXIST};
}

bool isFile(const Directory& directory, const char* name, const FileIdentity& file) {
    const Result<FileStatus> current = fileStatusInFolder(directory, name);
    return current && current->identity == file;
}

int exchange(int directory, const char* first, const char* second) {
    return renameat2(directory, first, directory, second, RENAME_EXCHANGE) == 0 ? 0 : errno;
}

// Puts the finished copy under its name. A file that it replaces is swapped out to the copy's
// hidden name instead of being deleted, so that it can come back while the move may still fail;
// `displaced` tells whether that happened.
int placeCopy(int directory, const char* hidden, const char* name, Placement placement,
              bool& displaced) {
    displaced = false;
    if (placement == Placement::keepExisting)
        return renameWithoutReplacing(directory, hidden, directory, name);
    const int error = exchange(directory, hidden, name);
    displaced = error == 0;
    // ENOENT: nothing there to swap with any more. EINVAL: a file system that cannot swap,
    // where the replaced file is gone for good.
    if (error != ENOENT && error != EINVAL)
        return error;
    return renameat(directory, hidden, directory, name) == 0 ? 0 : errno;
}

// Takes a placed copy out of the destination folder again. By now the name may hold a file that
// someone else saved there: only the copy itself is ever deleted, anything else goes back.
void withdrawCopy(const Directory& folder, const char* hidden, const char* name,
                  const FileIdentity& copy, bool displaced) {
    const int directory = folder.get();
    const auto swapBack = [&] {
        return displaced ? exchange(directory, hidden, name)
                         : renameWithoutReplacing(directory, name, directory, hidden);
    };
    if (!isFile(folder, name, copy) || swapBack() != 0)
        return;
    if (isFile(folder, hidden, copy))
        unlinkat(directory, hidden, 0);
    else if (displaced)
        exchange(directory, hidden, name);
    else
        renameWithoutReplacing(directory, hidden, directory, name);
}

// Removes the source only while its path still names the file that was copied: one that went or
// was replaced meanwhile is not this move's to remove. Returns 0 or the errno of the removal.
int removeCopiedSource(const std::string& source, const FileIdentity& copied) {
    const Result<FileStatus> current = fileStatusAtPath(source);
    if (!current || current->identity != copied)
        return 0;
    return unlink(source.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

int copyAcrossFileSystems(const std::string& source, const std::string& destination,
                          Placement placement) {
    FileDescriptor from(open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!from.isOpen())
        return errno;
    const Result<FileStatus> status = fileStatus(from);
    if (!status)
        return status.error().value();
    if (!status->isRegularFile())
        return EINVAL;

    const std::string folder = deletingLastPathComponent(destination);
    const std::string name = lastPathComponent(destination);
    const Result<Directory> directory = openDirectory(folder);
    if (!directory)
        return directory.error().value();

    TemporaryFile temporary = createHiddenTemporaryFile(directory->get(), folder);
    if (temporary.error != 0)
        return temporary.error;
    const char* hidden = temporary.name.c_str();
    FileDescriptor to = std::move(temporary.file);
    FileIdentity copy;
    int error = copyFile(from, *status, to);
    if (error == 0) {
        const Result<FileStatus> copied = fileStatus(to);
        if (copied)
            copy = copied->identity;
        else
            error = copied.error().value();
    }
    if (error == 0)
        error = to.close();
    bool displaced = false;
    if (error == 0)
        error = placeCopy(directory->get(), hidden, name.c_str(), placement, displaced);
    if (error != 0) {
        unlinkat(directory->get(), hidden, 0);
        return error;
    }
    fsync(directory->get());
    // A source that stays where it was (its folder is read-only, say) makes the move a copy the
    // user did not ask for; the move fails instead and leaves both folders as they were.
    if (const int removal = removeCopiedSource(source, status->identity)) {
        withdrawCopy(*directory, hidden, name.c_str(), copy, displaced);
        return removal;
    }
    if (displaced)
        unlinkat(directory->get(), hidden, 0);
    return 0;
}

int move(const std::string& source, const std::string& destination, Placement placement) {
    const int error = place(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), placement);
    if (error != EXDEV)
        return error;
    return copyAcrossFileSystems(source, destination, placement);
}

} // namespace

Result<> moveItemWithoutReplacing(const std::string& source, const std::string& destination) {
    if (const int error = move(source, destination, Placement::keepExisting))
        return errnoCode(error);
    return success();
}

Result<> replaceItem(const std::string& source, const std::string& destination) {
    if (const int error = move(source, destination, Placement::replaceExisting))
        return errnoCode(error);
    return success();
}

} // namespace brindle::platform
