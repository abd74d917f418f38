#pragma once

#include "Platform/Result.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace brindle::platform {

/// The first `length` bytes of the open file (fewer when it is shorter), read from offset 0
/// whatever the descriptor's position.
Result<std::string> readHead(int descriptor, std::size_t length);

/// Writes `contents` to a new file beside `path`, flushes it to storage, gives it exactly
/// `permissions` and renames it over `path` in one step: a reader sees the old file or the whole
/// new one, and a link at `path` is replaced, never written through.
Result<> writeFileAtomically(const std::string& path, std::string_view contents,
                             mode_t permissions);

} // namespace brindle::platform
