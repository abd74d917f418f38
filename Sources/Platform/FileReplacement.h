#pragma once

#include "Platform/Result.h"

#include <string>

namespace brindle::platform {

/// Swaps what two paths name in one atomic step (both must exist, on one file system).
Result<> exchangePaths(const std::string& first, const std::string& second);

/// Renames `source` to `destination` unless something already exists there (EEXIST), in one
/// atomic step.
Result<> renameExclusively(const std::string& source, const std::string& destination);

/// Clears the flag that hides a file from the file manager. Linux has no such flag (a leading
/// dot hides a file), so there is never anything to clear.
Result<> clearHiddenFileFlag(const std::string& path);

} // namespace brindle::platform
