#pragma once

#include <string>

namespace brindle::platform {

/// The C library's text for an errno value, as `strerror` gives it.
std::string errnoDescription(int errorNumber);

/// Whether the errno value `errorNumber` is a network file system's stale handle (the file was
/// replaced on the server), which the standard library's `std::errc` has no name for.
bool isStaleFileHandle(int errorNumber);

} // namespace brindle::platform
