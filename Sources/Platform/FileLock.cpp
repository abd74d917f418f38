#include "Platform/Files.h"

#include <cerrno>
#include <sys/file.h>

namespace brindle::platform {

FileLock::FileLock(DescriptorRef file, Kind kind) noexcept : descriptor_(-1) {
    const int operation = kind == Kind::shared ? LOCK_SH : LOCK_EX;
    int result = 0;
    while ((result = flock(file.get(), operation)) != 0 && errno == EINTR) {
    }
    if (result == 0)
        descriptor_ = file.get();
}

FileLock::~FileLock() {
    if (descriptor_ >= 0)
        flock(descriptor_, LOCK_UN);
}

} // namespace brindle::platform
