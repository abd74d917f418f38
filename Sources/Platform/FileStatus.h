#pragma once

#include "Platform/Result.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>

namespace brindle::platform {

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
Result<FileStatus> fileStatus(int descriptor);

/// The status of what `path` names; a symbolic link as its last component is not followed.
Result<FileStatus> fileStatusAtPath(const std::string& path);

/// The status of the entry `name` of the open folder `folder`; a symbolic link is not followed.
Result<FileStatus> fileStatusInFolder(int folder, const std::string& name);

/// The status of what `path` names after following symbolic links.
Result<FileStatus> fileStatusFollowingLinks(const std::string& path);

/// When the open file was created, from `statx`; nothing when the file system does not record it.
std::optional<timespec> birthTime(int descriptor);

} // namespace brindle::platform
