#pragma once

#include "Platform/Result.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brindle::platform {

/// The names under which this system stores the attributes a macOS program knows as
/// `macOSNames`: Linux allows only namespaced names, so "N" is kept as "user.N". Where a Mac
/// marks a download with quarantine and provenance, Chrome on Linux records the download's
/// origin and referrer; those travel along with them.
std::vector<std::string> carriedAttributeNames(std::span<const std::string_view> macOSNames);

/// Copies the extended attribute `name` from the open file `sourceDescriptor` to the file at
/// `destinationPath` (a link there is not followed): true when it was copied, false when the
/// source has no such attribute or its file system cannot hold any. A value that changes between
/// reading its size and its bytes, or that cannot be written, is an error.
Result<bool> copyAttribute(const std::string& name, int sourceDescriptor,
                           const std::string& destinationPath);

/// The same, to the open file `destinationDescriptor`.
Result<bool> copyAttribute(const std::string& name, int sourceDescriptor,
                           int destinationDescriptor);

} // namespace brindle::platform
