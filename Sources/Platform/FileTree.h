#pragma once

#include "Platform/Result.h"

#include <string>

namespace brindle::platform {

/// Copies the folder at `source` with everything in it to `destination`, which must not exist
/// yet. Symbolic links are copied as links, never followed; folders and files keep their
/// permission bits; anything but a folder, a regular file or a link is refused (ENOTSUP).
Result<> copyDirectoryTree(const std::string& source, const std::string& destination);

/// Removes what `path` names, with everything in it when it is a folder; a link is removed
/// itself, never followed. Nothing there counts as success.
Result<> removeDirectoryTree(const std::string& path);

} // namespace brindle::platform
