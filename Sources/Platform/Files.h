#pragma once

// Files and folders: descriptors, status, opening, contents, writing, creation, listing, trees,
// locks, scratch files and data copies.
//
// Errors: every call that can fail returns a `Result` holding the system's errno value (or, for
// `openRegularFile`, a `FileRefusal`); nothing here throws: a data copy that this process is
// asked to end during (see `TerminationRequested`) fails with ECANCELED. The few yes/no questions
// (`isExecutableFile`, `isWritableDirectory`) and best-effort calls (`startWriteback`, `birthTime`,
// `enclosingFolders`) report no error at all.
//
// Symbolic links: a link as the last component of a path is never followed: it is refused
// (ELOOP), taken for an entry of its own (status, removal, tree copies), or replaced, never
// written through. The calls that do follow one say so: `fileStatusFollowingLinks`,
// `isExecutableFile`, `isWritableDirectory`, `enclosingFolders`, `directoryDistinguishesCase`,
// `createDirectory` (a link to a folder counts as the folder), and `openRegularFile` and
// `openDirectory` when asked to (`LastLink::follow`). The folders above the last component are
// followed as the system does. Work on a file already open goes through its descriptor.
//
// Descriptors: an open file is lent to a call as a `DescriptorRef` and an open folder as a
// `Directory`, never as a bare number, so that a file cannot stand in for a folder, nor a
// descriptor for a count or an offset.

#include "Platform/Result.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brindle::platform {

//===--- Descriptors ---===//

/// Owns an open file descriptor and closes it when it goes away (a negative value owns nothing).
class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor = -1) noexcept : descriptor_(descriptor) {}
    ~FileDescriptor() {
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }
    FileDescriptor(FileDescriptor&& other) noexcept : descriptor_(other.descriptor_) {
        other.descriptor_ = -1;
    }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            if (descriptor_ >= 0)
                ::close(descriptor_);
            descriptor_ = other.descriptor_;
            other.descriptor_ = -1;
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const noexcept { return descriptor_; }
    bool isOpen() const noexcept { return descriptor_ >= 0; }

    /// Closes now: 0, or the errno of the close (a late write-back failure shows here).
    int close() noexcept {
        const int result = ::close(descriptor_);
        descriptor_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int descriptor_;
};

/// An open folder, owned like a `FileDescriptor`: what the calls that work on a folder's entries
/// take, so that a file's descriptor cannot stand in for it. It serves wherever any open file does
/// (`fileStatus`, `setPermissions`, locks).
class Directory {
public:
    /// Takes over `descriptor`, which must be a folder opened by the caller.
    explicit Directory(FileDescriptor descriptor) noexcept : descriptor_(std::move(descriptor)) {}

    int get() const noexcept { return descriptor_.get(); }
    bool isOpen() const noexcept { return descriptor_.isOpen(); }

private:
    FileDescriptor descriptor_;
};

/// An open file lent to a call, which neither keeps nor closes it. Made from whatever owns one
/// (`FileDescriptor`, `Directory`), or spelt out with `borrowing` for a descriptor that nothing
/// here owns (the standard streams, a descriptor the system hands over).
class DescriptorRef {
public:
    DescriptorRef(const FileDescriptor& owner) noexcept : descriptor_(owner.get()) {}
    DescriptorRef(const Directory& folder) noexcept : descriptor_(folder.get()) {}
    static constexpr DescriptorRef borrowing(int descriptor) noexcept {
        return DescriptorRef(descriptor);
    }

    /// The number, for a system call; negative for none.
    constexpr int get() const noexcept { return descriptor_; }
    constexpr bool isOpen() const noexcept { return descriptor_ >= 0; }

private:
    explicit constexpr DescriptorRef(int descriptor) noexcept : descriptor_(descriptor) {}
    int descriptor_;
};

//===--- Status ---===//

/// Which file an entry is: equal identities name the same file on the same file system.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

/// What the layer above needs to know of a file's status.
struct FileStatus {
    enum class Type { regular, directory, symbolicLink, other };

    FileIdentity identity;
    Type type = Type::other;
    mode_t permissions = 0; // the permission bits only
    uid_t owner = 0;
    std::int64_t size = 0;
    nlink_t linkCount = 0; // 0 once the file has no name left
    timespec accessTime{};
    timespec modificationTime{};
    timespec statusChangeTime{}; // moves with any change of content, mode or owner

    bool isRegularFile() const { return type == Type::regular; }
    bool isDirectory() const { return type == Type::directory; }
    /// Owned by the user this process acts for (its effective user id).
    bool isOwnedByCurrentUser() const;
    /// A regular file owned by the current user: the only kind of file read, tagged, replaced or
    /// moved on the user's behalf.
    bool isOwnRegularFile() const { return isRegularFile() && isOwnedByCurrentUser(); }
    /// A folder (not a link to one) owned by the current user: the only kind kept private.
    bool isOwnDirectory() const { return isDirectory() && isOwnedByCurrentUser(); }
    /// Owned by the current user or by root, and writable by neither group nor others: what a
    /// per-user install and a system-wide one have in common, and what another user cannot change.
    bool isSafeFromOtherUsers() const;
    /// The same file with the same size and modification time (to the nanosecond): unchanged.
    bool isUnchangedFrom(const FileStatus& earlier) const;
};

/// The status of the open file.
Result<FileStatus> fileStatus(DescriptorRef file);

/// The status of what `path` names; a symbolic link as its last component is not followed.
Result<FileStatus> fileStatusAtPath(const std::string& path);

/// The status of the entry `name` of the open folder `folder`; a symbolic link is not followed.
Result<FileStatus> fileStatusInFolder(const Directory& folder, const std::string& name);

/// The status of what `path` names after following symbolic links.
Result<FileStatus> fileStatusFollowingLinks(const std::string& path);

/// When the open file was created, from `statx`; nothing when the file system does not record it.
std::optional<timespec> birthTime(DescriptorRef file);

//===--- Opening files ---===//

/// Why an existing file was not opened on the user's behalf. The system's own reasons (no such
/// file, a link as the last component, no permission) come as errno values instead.
enum class FileRefusal { notRegularFile = 1, notOwnedByCurrentUser };

std::error_code make_error_code(FileRefusal refusal);

/// An open file and its status when it was opened, to compare with later.
struct OpenedFile {
    FileDescriptor descriptor;
    FileStatus status;
};

/// Whose files may be opened: the current user's only, or anyone's (to read a file's content).
enum class RequiredOwner { currentUser, anyone };
/// Whether a symbolic link as the last component is refused or followed to the file it names
/// (as a browser reads a manifest the system's administrator installed as a link).
enum class LastLink { refuse, follow };

/// Opens `path` read-only, never through a symbolic link as its last component, close-on-exec
/// and without blocking on a FIFO; then refuses anything but a regular file of `owner`. Later
/// work goes through the descriptor, so a file swapped in at the same path is never touched.
Result<OpenedFile> openRegularFile(const std::string& path,
                                   RequiredOwner owner = RequiredOwner::currentUser,
                                   LastLink lastLink = LastLink::refuse);

//===--- Contents ---===//

/// The first `length` bytes of the open file (fewer when it is shorter), read from offset 0
/// whatever the descriptor's position.
Result<std::string> readHead(DescriptorRef file, std::size_t length);

/// Whether a written file must outlast a crash of the system, or only serves processes that would
/// go with it (a message handed to a child and read back at once).
enum class Durability { flushedToStorage, sharedWhileRunning };

/// Writes `contents` to a new file beside `path`, flushes it to storage (unless `durability` says
/// it need not), gives it exactly `permissions` and renames it over `path` in one step: a reader
/// sees the old file or the whole new one, and a link at `path` is replaced, never written
/// through.
Result<> writeFileAtomically(const std::string& path, std::string_view contents, mode_t permissions,
                             Durability durability = Durability::flushedToStorage);

//===--- Writing ---===//

/// Creates a new file at `path` for writing with exactly `permissions`: exclusively (a name that
/// is taken, a link included, is EEXIST), never through a link, close-on-exec.
Result<FileDescriptor> createExclusiveFile(const std::string& path, mode_t permissions);

/// Writes all of `bytes` at the descriptor's position, however many calls that takes.
Result<> writeAll(DescriptorRef file, std::string_view bytes);

/// Asks the kernel to start writing the open file's bytes from `offset` on to storage now,
/// without waiting for it; a later `synchronize` then has little left to wait for. Best effort.
void startWriteback(DescriptorRef file, std::int64_t offset, std::int64_t length);

/// Flushes the open file's data and attributes to storage.
Result<> synchronize(DescriptorRef file);

//===--- Access and removal ---===//

/// True when `path` (symbolic links followed) is a regular file that the current user may execute.
bool isExecutableFile(const std::string& path);

/// True when the current user may create and remove entries in the folder at `path`.
bool isWritableDirectory(const std::string& path);

/// Gives the open file exactly `permissions`.
Result<> setPermissions(DescriptorRef file, mode_t permissions);

/// Removes the directory entry at `path` (a link itself, never what it points to).
Result<> removeFile(const std::string& path);

/// Removes the entry at `path` when it is a file, a link or an empty folder, as the C library's
/// `remove` does.
Result<> removeFileOrEmptyFolder(const std::string& path);

/// The folder at `path` (links followed) and every folder above it up to the root, nearest first,
/// as the file system links them rather than as the path spells them; empty when there is none.
std::vector<FileIdentity> enclosingFolders(const std::string& path);

//===--- Folder creation ---===//

/// Creates the folder at `path` with exactly `permissions` (the umask does not narrow them). A
/// folder that already exists there (a link to a folder included) is left as it is and counts as
/// success; anything else there is ENOTDIR.
Result<> createDirectory(const std::string& path, mode_t permissions);

/// Gives the folder at `path` exactly `permissions`; a link there is refused (ELOOP), never
/// followed.
Result<> setDirectoryPermissions(const std::string& path, mode_t permissions);

//===--- Open folders and their entries ---===//

/// Opens the folder at `path`, to list it or to work on it and its entries through the
/// descriptor; a link in its place is ELOOP unless `lastLink` says to follow it.
Result<Directory> openDirectory(const std::string& path, LastLink lastLink = LastLink::refuse);

/// One entry of a folder, as the folder lists it.
struct DirectoryEntry {
    std::string name;
    FileStatus::Type type = FileStatus::Type::other; // a link is a link, never what it names
};

/// The entries of the open folder (one level, hidden ones included, without "." and ".."), in no
/// particular order, from its start whatever was read of it before. A file system that does not
/// record an entry's type in the folder has it looked up, never following a link.
Result<std::vector<DirectoryEntry>> directoryEntries(const Directory& folder);

/// Whether the folder at `path` tells names apart that differ only in letter case. FAT, exFAT,
/// NTFS, HFS+ and SMB shares do not, nor does a folder with the case-folding flag (ext4 and
/// others); every other file system does.
Result<bool> directoryDistinguishesCase(const std::string& path);

//===--- Folder trees ---===//

/// Copies the folder at `source` with everything in it to `destination`, which must not exist
/// yet. Symbolic links are copied as links, never followed; folders and files keep their
/// permission bits; anything but a folder, a regular file or a link is refused (ENOTSUP).
Result<> copyDirectoryTree(const std::string& source, const std::string& destination);

/// Removes what `path` names, with everything in it when it is a folder; a link is removed
/// itself, never followed. Nothing there counts as success.
Result<> removeDirectoryTree(const std::string& path);

//===--- Locks ---===//

/// A lock (flock) on an open file or folder, held until the object goes. Processes that take it
/// shared exclude only one that takes it exclusive, and the other way round; each waits for its
/// turn. Where the file system has no locks, nothing is held.
class FileLock {
public:
    enum class Kind { shared, exclusive };

    FileLock(DescriptorRef file, Kind kind) noexcept;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int descriptor_;
};

//===--- Folder locks ---===//

/// An advisory lock on a folder, held until the value goes away or this process ends, however it
/// ends: a lock can never outlive the program that took it.
class FolderLock {
public:
    /// Takes the lock on the folder at `path` (never through a link) for this program alone:
    /// EWOULDBLOCK, without waiting, while anyone else holds it.
    static Result<FolderLock> exclusive(const std::string& path);
    /// Takes the lock alongside others that share it, waiting while one program holds it alone.
    static Result<FolderLock> shared(const std::string& path);

    /// Turns an exclusive lock into a shared one.
    Result<> share();

private:
    explicit FolderLock(Directory folder) : folder_(std::move(folder)) {}
    Directory folder_;
};

//===--- Scratch files ---===//

/// A private file that collects what a child process writes: created exclusively, with mode
/// 0600, in the user's temporary folder ($TMPDIR when it is absolute, else /tmp), and removed
/// when this goes.
class ScratchFile {
public:
    /// Creates the file `name`; a name that is taken, or a link in its place, is an error.
    static Result<ScratchFile> create(const std::string& name);

    ScratchFile(ScratchFile&& other) noexcept
        : descriptor_(std::move(other.descriptor_)), path_(std::exchange(other.path_, {})) {}
    ScratchFile& operator=(ScratchFile&&) = delete;
    ~ScratchFile();

    DescriptorRef descriptor() const { return descriptor_; }
    const std::string& path() const { return path_; }

    /// Everything written to the file.
    Result<std::string> contents() const;

    /// The whole lines among the file's last `maximumBytes` bytes: when the file is longer, the
    /// piece of a line that the cut leaves at the start is dropped too.
    Result<std::string> lastLines(std::size_t maximumBytes) const;

    /// The first line that holds one of `texts`, looked at in its first `lineBytes` bytes; the
    /// whole file is read, a piece at a time.
    Result<std::optional<std::string>> firstLineContaining(const std::vector<std::string>& texts,
                                                           std::size_t lineBytes = 4096) const;

private:
    ScratchFile(FileDescriptor descriptor, std::string path)
        : descriptor_(std::move(descriptor)), path_(std::move(path)) {}

    FileDescriptor descriptor_;
    std::string path_; // empty once moved from
};

//===--- Data copy ---===//

/// The ways bytes can travel from one open file to another, fastest first.
enum class FileDataTransfer {
    /// `copy_file_range`: a clone or a server-side copy where the file systems can do one.
    kernelCopy,
    /// `sendfile`: the kernel copies page by page, with no trip through a buffer of ours.
    kernelSend,
    /// `read` and `write` through a buffer: what every file system takes.
    readWrite,
};

/// Copies `from`, from its position to its end, to `to` at its position, starting with `first`
/// and falling back to the next way whenever a file system refuses one. Each piece is sent on
/// to storage as soon as it is written, so that flushing the copy afterwards has little left to
/// wait for. `expectedSize` (the source's size when it was opened) reserves the room up front;
/// the copy still ends where the source does.
Result<> copyFileData(DescriptorRef from, DescriptorRef to, std::int64_t expectedSize,
                      FileDataTransfer first = FileDataTransfer::kernelCopy);

} // namespace brindle::platform

template <> struct std::is_error_code_enum<brindle::platform::FileRefusal> : std::true_type {};
