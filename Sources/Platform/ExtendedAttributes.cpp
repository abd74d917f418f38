#include "Platform/ExtendedAttributes.h"

#include <cerrno>
#include <sys/xattr.h>
#include <utility>

namespace brindle::platform {

namespace {

// `call` follows the getxattr convention: with no buffer it answers the size, with a buffer the
// whole value or ERANGE. A value that grew since its size was asked (ERANGE) or went meanwhile
// is asked for again; one that shrank was still read whole.
template <class Call> AttributeRead<std::string> readWhole(Call&& call, int attempts) {
    for (int attempt = 1;; ++attempt) {
        const ssize_t size = call(nullptr, 0);
        if (size < 0 && errno == ENODATA)
            return {};
        if (size < 0)
            return {errno, std::nullopt};
        std::string bytes(static_cast<size_t>(size), '\0');
        if (size == 0)
            return {0, std::move(bytes)};
        const ssize_t read = call(bytes.data(), bytes.size());
        if (read >= 0) {
            bytes.resize(static_cast<size_t>(read));
            return {0, std::move(bytes)};
        }
        if (errno != ERANGE && errno != ENODATA)
            return {errno, std::nullopt};
        if (attempt >= attempts)
            return {ERANGE, std::nullopt};
    }
}

} // namespace

std::string storedAttributeName(std::string_view name) {
    return "user." + std::string(name);
}

AttributeRead<std::string> readStoredAttribute(int descriptor, const std::string& storedName,
                                               int attempts) {
    return readWhole(
        [&](void* buffer, size_t size) {
            return fgetxattr(descriptor, storedName.c_str(), buffer, size);
        },
        attempts);
}

AttributeRead<std::string> readAttribute(int descriptor, std::string_view name) {
    return readStoredAttribute(descriptor, storedAttributeName(name));
}

AttributeRead<std::string> readStoredAttributeNames(int descriptor) {
    return readWhole(
        [&](void* buffer, size_t size) {
            return flistxattr(descriptor, static_cast<char*>(buffer), size);
        },
        attributeReadAttempts);
}

int setStoredAttribute(int descriptor, const std::string& storedName, std::string_view value) {
    return fsetxattr(descriptor, storedName.c_str(), value.data(), value.size(), 0);
}

int setAttribute(int descriptor, std::string_view name, std::string_view value) {
    return setStoredAttribute(descriptor, storedAttributeName(name), value);
}

int removeStoredAttribute(int descriptor, const std::string& storedName) {
    if (fremovexattr(descriptor, storedName.c_str()) == 0 || errno == ENODATA)
        return 0;
    return -1;
}

int removeAttribute(int descriptor, std::string_view name) {
    return removeStoredAttribute(descriptor, storedAttributeName(name));
}

} // namespace brindle::platform
