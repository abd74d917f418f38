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

/// Whether a written file must outlast a crash of the system, or only serves processes that would
/// go with it (a message handed to a child and read back at once).
enum class Durability { flushedToStorage, sharedWhileRunning };

/// Writes `contents` to a new file beside `path`, flushes it to storage (unless `durability` says
/// it need not), gives it exactly `permissions` and renames it over `path` in one step: a reader
/// sees the old file or the whole new one, and a link at `path` is replaced, never written
/// through.
Result<> writeFileAtomically(const std::string& path, std::string_view contents, mode_t permissions,
                             Durability durability = Durability::flushedToStorage);

} // namespace brindle::platform
