#pragma once

#include <ctime>
#include <optional>

namespace brindle::platform {

/// When the open file was created, from `statx`; nothing when the file system does not record it.
std::optional<timespec> birthTime(int descriptor);

} // namespace brindle::platform
