#pragma once

#include "Platform/Result.h"

#include <string>
#include <sys/types.h>

namespace brindle::platform {

/// True when `path` (symbolic links followed) is a regular file that the current user may execute.
bool isExecutableFile(const std::string& path);

/// True when the current user may create and remove entries in the folder at `path`.
bool isWritableDirectory(const std::string& path);

/// Gives the open file exactly `permissions`.
Result<> setPermissions(int descriptor, mode_t permissions);

/// Removes the directory entry at `path` (a link itself, never what it points to).
Result<> removeFile(const std::string& path);

} // namespace brindle::platform
