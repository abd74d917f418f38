#include "Platform/Attributes.h"

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

namespace {

template <class Write>
Result<bool> copyAttributeWith(const std::string& name, DescriptorRef source, Write write) {
    // One read: a value that grows or goes while it is read is not copied at all.
    const Result<AttributeValue> read = readStoredAttribute(source, name, 1);
    if (!read && read.error() == std::errc::not_supported)
        return false;
    if (!read)
        return failure<bool>(read.error());
    if (!*read)
        return false;
    if (write(**read) != 0)
        return failure<bool>(lastErrnoCode());
    return true;
}

} // namespace

Result<bool> copyAttribute(const std::string& name, DescriptorRef source,
                           const std::string& destinationPath) {
    return copyAttributeWith(name, source, [&](const std::string& value) {
        return lsetxattr(destinationPath.c_str(), name.c_str(), value.data(), value.size(), 0);
    });
}

Result<bool> copyAttribute(const std::string& name, DescriptorRef source,
                           DescriptorRef destination) {
    return copyAttributeWith(name, source, [&](const std::string& value) {
        return fsetxattr(destination.get(), name.c_str(), value.data(), value.size(), 0);
    });
}

} // namespace brindle::platform
