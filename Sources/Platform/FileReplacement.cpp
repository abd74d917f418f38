#include "Platform/Moves.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>

namespace brindle::platform {

Result<> exchangePaths(const std::string& first, const std::string& second) {
    if (renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) != 0)
        return lastErrnoCode();
    return success();
}

Result<> renameExclusively(const std::string& source, const std::string& destination) {
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) != 0)
        return lastErrnoCode();
    return success();
}

Result<> clearHiddenFileFlag(const std::string& /*path*/) {
    return success();
}

} // namespace brindle::platform
