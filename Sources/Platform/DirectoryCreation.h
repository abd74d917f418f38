#pragma once

#include "Platform/Result.h"

#include <string>
#include <sys/types.h>

namespace brindle::platform {

/// Creates the folder at `path` with exactly `permissions` (the umask does not narrow them). A
/// folder that already exists there (a link to a folder included) is left as it is and counts as
/// success; anything else there is ENOTDIR.
Result<> createDirectory(const std::string& path, mode_t permissions);

/// Gives the folder at `path` exactly `permissions`; a link there is refused (ELOOP), never
/// followed.
Result<> setDirectoryPermissions(const std::string& path, mode_t permissions);

} // namespace brindle::platform
