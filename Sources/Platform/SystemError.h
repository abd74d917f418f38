#pragma once

#include <string>

namespace brindle::platform {

/// The C library's text for an errno value, as `strerror` gives it.
std::string errnoDescription(int errorNumber);

} // namespace brindle::platform
