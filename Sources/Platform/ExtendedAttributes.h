#pragma once

#include "Platform/Result.h"

#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace brindle::platform {

/// How many times a value that keeps changing while it is read is read again.
inline constexpr int attributeReadAttempts = 3;

/// Linux accepts only namespaced attribute names, so a macOS attribute keeps its bytes under
/// "user." followed by its own name; the data stays intact if the file travels to a Mac.
std::string storedAttributeName(std::string_view name);

/// An attribute's bytes; nothing when the file has no such attribute.
using AttributeValue = std::optional<std::string>;

/// Reads the attribute stored under the namespaced name `storedName` through an open descriptor:
/// its size first, then its bytes. A value that grows or goes in between is read again, up to
/// `attempts` reads in all, after which the error is ERANGE.
Result<AttributeValue> readStoredAttribute(int descriptor, const std::string& storedName,
                                           int attempts = attributeReadAttempts);

/// `readStoredAttribute` of the macOS attribute `name`.
Result<AttributeValue> readAttribute(int descriptor, std::string_view name);

/// The namespaced names of the attributes stored on the open file.
Result<std::vector<std::string>> storedAttributeNames(int descriptor);

/// Creates or replaces the attribute stored under `storedName`.
Result<> setStoredAttribute(int descriptor, const std::string& storedName, std::string_view value);

/// `setStoredAttribute` of the macOS attribute `name`.
Result<> setAttribute(int descriptor, std::string_view name, std::string_view value);

/// Removes the attribute stored under `storedName`; one that is not there counts as removed.
Result<> removeStoredAttribute(int descriptor, const std::string& storedName);

/// `removeStoredAttribute` of the macOS attribute `name`.
Result<> removeAttribute(int descriptor, std::string_view name);

/// Whether a failed write was refused for want of attribute room: ext4 (without `ea_inode`) gives
/// all of a file's attributes one block, and no value may exceed the kernel's limit.
bool isOutOfAttributeRoom(const std::error_code& error);

} // namespace brindle::platform
