#include "Platform/Attributes.h"

#include <cerrno>
#include <sys/xattr.h>
#include <utility>

namespace brindle::platform {

namespace {

// `call` follows the getxattr convention: with no buffer it answers the size, with a buffer the
// whole value or ERANGE. A value that grew since its size was asked (ERANGE) or went meanwhile
// is asked for again; one that shrank was still read whole.
template <class Call> Result<AttributeValue> readWhole(Call&& call, int attempts) {
    for (int attempt = 1;; ++attempt) {
        const ssize_t size = call(nullptr, 0);
        if (size < 0 && errno == ENODATA)
            return AttributeValue();
        if (size < 0)
            return lastErrnoCode();
        std::string bytes(static_cast<size_t>(size), '\0');
        if (size == 0)
            return AttributeValue(std::move(bytes));
        const ssize_t read = call(bytes.data(), bytes.size());
        if (read >= 0) {
            bytes.resize(static_cast<size_t>(read));
            return AttributeValue(std::move(bytes));
        }
        if (errno != ERANGE && errno != ENODATA)
            return lastErrnoCode();
        if (attempt >= attempts)
            return errnoCode(ERANGE);
    }
}

} // namespace

std::string storedAttributeName(std::string_view name) {
    return "user." + std::string(name);
}

Result<AttributeValue> readStoredAttribute(DescriptorRef file, const std::string& storedName,
                                           int attempts) {
    return readWhole(
        [&](void* buffer, size_t size) {
            return fgetxattr(file.get(), storedName.c_str(), buffer, size);
        },
        attempts);
}

Result<AttributeValue> readAttribute(DescriptorRef file, std::string_view name) {
    return readStoredAttribute(file, storedAttributeName(name));
}

Result<std::vector<std::string>> storedAttributeNames(DescriptorRef file) {
    const Result<AttributeValue> list = readWhole(
        [&](void* buffer, size_t size) {
            return flistxattr(file.get(), static_cast<char*>(buffer), size);
        },
        attributeReadAttempts);
    if (!list)
        return list.error();
    // Each name ends with a NUL byte.
    std::vector<std::string> names;
    const std::string bytes = list->value_or("");
    for (size_t start = 0; start < bytes.size(); start += names.back().size() + 1)
        names.emplace_back(bytes.c_str() + start);
    return names;
}

Result<> setStoredAttribute(DescriptorRef file, const std::string& storedName,
                            std::string_view value) {
    if (fsetxattr(file.get(), storedName.c_str(), value.data(), value.size(), 0) != 0)
        return lastErrnoCode();
    return success();
}

Result<> setAttribute(DescriptorRef file, std::string_view name, std::string_view value) {
    return setStoredAttribute(file, storedAttributeName(name), value);
}

Result<> removeStoredAttribute(DescriptorRef file, const std::string& storedName) {
    if (fremovexattr(file.get(), storedName.c_str()) == 0 || errno == ENODATA)
        return success();
    return lastErrnoCode();
}

Result<> removeAttribute(DescriptorRef file, std::string_view name) {
    return removeStoredAttribute(file, storedAttributeName(name));
}

bool isOutOfAttributeRoom(const std::error_code& error) {
    return error == std::errc::no_space_on_device || error == std::errc::argument_list_too_long;
}

} // namespace brindle::platform
