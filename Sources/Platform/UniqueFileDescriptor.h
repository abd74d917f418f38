#pragma once

#include <unistd.h>
#include <utility>

namespace brindle::platform {

/// Owns an open file descriptor and closes it when it goes away.
class UniqueFileDescriptor {
public:
    explicit UniqueFileDescriptor(int descriptor = -1) : descriptor_(descriptor) {}
    UniqueFileDescriptor(UniqueFileDescriptor&& other) noexcept
        : descriptor_(std::exchange(other.descriptor_, -1)) {}
    UniqueFileDescriptor& operator=(UniqueFileDescriptor&& other) noexcept {
        std::swap(descriptor_, other.descriptor_);
        return *this;
    }
    UniqueFileDescriptor(const UniqueFileDescriptor&) = delete;
    UniqueFileDescriptor& operator=(const UniqueFileDescriptor&) = delete;
    ~UniqueFileDescriptor() {
        if (descriptor_ >= 0)
            close(descriptor_);
    }

    int get() const { return descriptor_; }
    explicit operator bool() const { return descriptor_ >= 0; }

private:
    int descriptor_;
};

} // namespace brindle::platform
