#include "Platform/AttributeCopy.h"

#include "Platform/ExtendedAttributes.h"

#include <cerrno>
#include <sys/xattr.h>

namespace brindle::platform {

std::vector<std::string> carriedAttributeNames(std::span<const std::string_view> macOSNames) {
    std::vector<std::string> names;
    for (std::string_view name : macOSNames)
        names.push_back(storedAttributeName(name));
    names.emplace_back("user.xdg.origin.url");
    names.emplace_back("user.xdg.referrer.url");
    return names;
}

Result<bool> copyAttribute(const std::string& name, int sourceDescriptor,
                           const std::string& destinationPath) {
    // One read: a value that grows or goes while it is read is not copied at all.
    const AttributeRead<std::string> read = readStoredAttribute(sourceDescriptor, name, 1);
    if (read.error == ENOTSUP || (read.error == 0 && !read.value))
        return false;
    if (read.error != 0)
        return failure<bool>(errnoCode(read.error));
    if (lsetxattr(destinationPath.c_str(), name.c_str(), read.value->data(), read.value->size(),
                  0) != 0)
        return failure<bool>(lastErrnoCode());
    return true;
}

} // namespace brindle::platform
