#pragma once

#include "Platform/FileStatus.h"
#include "Platform/Result.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace brindle::platform {

/// True when `path` (symbolic links followed) is a regular file that the current user may execute.
bool isExecutableFile(const std::string& path);

/// True when the current user may create and remove entries in the folder at `path`.
bool isWritableDirectory(const std::string& path);

/// Gives the open file exactly `permissions`.
Result<> setPermissions(int descriptor, mode_t permissions);

/// Removes the directory entry at `path` (a link itself, never what it points to).
Result<> removeFile(const std::string& path);

/// Removes the entry at `path` when it is a file, a link or an empty folder, as the C library's
/// `remove` does.
Result<> removeFileOrEmptyFolder(const std::string& path);

/// The folder at `path` (links followed) and every folder above it up to the root, nearest first,
/// as the file system links them rather than as the path spells them; empty when there is none.
std::vector<FileIdentity> enclosingFolders(const std::string& path);

} // namespace brindle::platform
