#pragma once

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

namespace brindle::platform {

/// How many times a value that keeps changing while it is read is read again.
inline constexpr int attributeReadAttempts = 3;

/// Linux accepts only namespaced attribute names, so a macOS attribute keeps its bytes under
/// "user." followed by its own name; the data stays intact if the file travels to a Mac.
std::string storedAttributeName(std::string_view name);

/// An attribute read: `error` is 0 or the errno of the failed read; `value` is absent when the
/// file has no such attribute.
template <class Value> struct AttributeRead {
    int error = 0;
    std::optional<Value> value;
};

/// Reads the attribute stored under the namespaced name `storedName` through an open descriptor:
/// its size first, then its bytes. A value that grows or goes in between is read again, up to
/// `attempts` reads in all, after which the error is ERANGE.
AttributeRead<std::string> readStoredAttribute(int descriptor, const std::string& storedName,
                                               int attempts = attributeReadAttempts);

/// `readStoredAttribute` of the macOS attribute `name`.
AttributeRead<std::string> readAttribute(int descriptor, std::string_view name);

/// The namespaced names of the attributes stored on the open file, each ended by a NUL byte.
AttributeRead<std::string> readStoredAttributeNames(int descriptor);

/// `fsetxattr` of the attribute stored under `storedName` (created or replaced): 0, or -1 with
/// errno.
int setStoredAttribute(int descriptor, const std::string& storedName, std::string_view value);

/// `setStoredAttribute` of the macOS attribute `name`.
int setAttribute(int descriptor, std::string_view name, std::string_view value);

/// `fremovexattr` of the attribute stored under `storedName`: 0 (also when there was none), or -1
/// with errno.
int removeStoredAttribute(int descriptor, const std::string& storedName);

/// `removeStoredAttribute` of the macOS attribute `name`.
int removeAttribute(int descriptor, std::string_view name);

/// Whether a failed write was refused for want of attribute room: ext4 (without `ea_inode`) gives
/// all of a file's attributes one block, and no value may exceed the kernel's limit.
inline bool isOutOfAttributeRoom(int error) {
    return error == ENOSPC || error == E2BIG;
}

} // namespace brindle::platform
