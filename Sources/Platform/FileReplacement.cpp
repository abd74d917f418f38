#include "Platform/FileReplacement.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>

namespace brindle::platform {

int exchangePaths(const std::string& first, const std::string& second) {
    if (renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) != 0)
        return errno;
    return 0;
}

int renameExclusively(const std::string& source, const std::string& destination) {
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) != 0)
        return errno;
    return 0;
}

int clearHiddenFileFlag(const std::string& /*path*/) {
    return 0;
}

} // namespace brindle::platform
