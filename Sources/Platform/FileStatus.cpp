#include "Platform/FileStatus.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace brindle::platform {

std::optional<timespec> birthTime(int descriptor) {
    struct statx status {};
    if (statx(descriptor, "", AT_EMPTY_PATH, STATX_BTIME, &status) != 0)
        return std::nullopt;
    if ((status.stx_mask & STATX_BTIME) == 0)
        return std::nullopt;
    return timespec{static_cast<time_t>(status.stx_btime.tv_sec),
                    static_cast<long>(status.stx_btime.tv_nsec)};
}

} // namespace brindle::platform
