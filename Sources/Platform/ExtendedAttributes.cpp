#include "Platform/ExtendedAttributes.h"

#include <sys/xattr.h>

namespace brindle::platform {

std::string storedAttributeName(std::string_view name) {
    return "user." + std::string(name);
}

ssize_t getAttribute(int descriptor, std::string_view name, void* buffer, size_t size) {
    return fgetxattr(descriptor, storedAttributeName(name).c_str(), buffer, size);
}

int setAttribute(int descriptor, std::string_view name, std::string_view value) {
    return fsetxattr(descriptor, storedAttributeName(name).c_str(), value.data(), value.size(), 0);
}

} // namespace brindle::platform
