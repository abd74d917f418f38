#pragma once

#include "Platform/FileDescriptor.h"
#include "Platform/Result.h"

#include <string>

namespace brindle::platform {

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
    explicit FolderLock(FileDescriptor folder) : folder_(std::move(folder)) {}
    FileDescriptor folder_;
};

} // namespace brindle::platform
