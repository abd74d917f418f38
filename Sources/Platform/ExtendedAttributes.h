#pragma once

#include <sys/types.h>

#include <cerrno>
#include <string>
#include <string_view>

namespace brindle::platform {

/// The error an attribute read reports when the file has no attribute of that name (ENOATTR on
/// the system the attribute names come from).
inline constexpr int noSuchAttribute = ENODATA;

/// Linux accepts only namespaced attribute names, so a macOS attribute keeps its bytes under
/// "user." followed by its own name; the data stays intact if the file travels to a Mac.
std::string storedAttributeName(std::string_view name);

/// `fgetxattr` of the macOS attribute `name` through an open descriptor: with a null buffer the
/// size, else the bytes read. -1 with errno on failure (`noSuchAttribute` when there is none).
ssize_t getAttribute(int descriptor, std::string_view name, void* buffer, size_t size);

/// `fsetxattr` of the macOS attribute `name` (created or replaced): 0, or -1 with errno.
int setAttribute(int descriptor, std::string_view name, std::string_view value);

} // namespace brindle::platform
