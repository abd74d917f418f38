#pragma once

#include <string>

namespace brindle::platform {

/// True when `path` (symbolic links followed) is a regular file that the current user may execute.
bool isExecutableFile(const std::string& path);

} // namespace brindle::platform
