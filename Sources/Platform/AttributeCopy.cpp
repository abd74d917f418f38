#include "Platform/AttributeCopy.h"

#include <cerrno>
#include <sys/xattr.h>

namespace brindle::platform {

std::vector<std::string> carriedAttributeNames(std::span<const std::string_view> macOSNames) {
    std::vector<std::string> names;
    for (std::string_view name : macOSNames)
        names.push_back("user." + std::string(name));
    names.emplace_back("user.xdg.origin.url");
    names.emplace_back("user.xdg.referrer.url");
    return names;
}

AttributeCopyResult copyAttribute(const std::string& name, int sourceDescriptor,
                                  const std::string& destinationPath) {
    const ssize_t size = fgetxattr(sourceDescriptor, name.c_str(), nullptr, 0);
    if (size < 0)
        return errno == ENODATA || errno == ENOTSUP ? AttributeCopyResult::absent
                                                    : AttributeCopyResult::failed;
    std::vector<char> value(static_cast<std::size_t>(size));
    const ssize_t read = fgetxattr(sourceDescriptor, name.c_str(), value.data(), value.size());
    if (read != size)
        return AttributeCopyResult::failed;
    if (lsetxattr(destinationPath.c_str(), name.c_str(), value.data(), value.size(), 0) != 0)
        return AttributeCopyResult::failed;
    return AttributeCopyResult::copied;
}

} // namespace brindle::platform
