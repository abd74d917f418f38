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

Result<AttributeValue> readStoredAttribute(int descriptor, const std::string& storedName,
                                           int attempts) {
    return readWhole(
        [&](void* buffer, size_t size) {
            return fgetxattr(descriptor, storedName.c_str(), buffer, size);
        },
        attempts);
}

Result<AttributeValue> readAttribute(int descriptor, std::string_view name) {
    return readStoredAttribute(descriptor, storedAttributeName(name));
}

Result<std::vector<std::string>> storedAttributeNames(int descriptor) {
    const Result<AttributeValue> list = readWhole(
        [&](void* buffer, size_t size) {
            return flistxattr(descriptor, static_cast<char*>(buffer), size);
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

Result<> setStoredAttribute(int descriptor, const std::string& storedName, std::string_view value) {
    if (fsetxattr(descriptor, storedName.c_str(), value.data(), value.size(), 0) != 0)
        return lastErrnoCode();
    return success();
}

Result<> setAttribute(int descriptor, std::string_view name, std::string_view value) {
    return setStoredAttribute(descriptor, storedAttributeName(name), value);
}

Result<> removeStoredAttribute(int descriptor, const std::string& storedName) {
    if (fremovexattr(descriptor, storedName.c_str()) == 0 || errno == ENODATA)
        return success();
    return lastErrnoCode();
}

Result<> removeAttribute(int descriptor, std::string_view name) {
    return removeStoredAttribute(descriptor, storedAttributeName(name));
}

bool isOutOfAttributeRoom(const std::error_code& error) {
    return error == std::errc::no_space_on_device || error == std::errc::argument_list_too_long;
}

} // namespace brindle::platform
