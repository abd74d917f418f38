#pragma once

#include "Platform/FileDescriptor.h"
#include "Platform/Result.h"

#include <cstdint>

#include <string>
#include <string_view>
#include <sys/types.h>

namespace brindle::platform {

/// Creates a new file at `path` for writing with exactly `permissions`: exclusively (a name that
/// is taken, a link included, is EEXIST), never through a link, close-on-exec.
Result<FileDescriptor> createExclusiveFile(const std::string& path, mode_t permissions);

/// Writes all of `bytes` at the descriptor's position, however many calls that takes.
Result<> writeAll(int descriptor, std::string_view bytes);

/// Asks the kernel to start writing the open file's bytes from `offset` on to storage now,
/// without waiting for it; a later `synchronize` then has little left to wait for. Best effort.
void startWriteback(int descriptor, std::int64_t offset, std::int64_t length);

/// Flushes the open file's data and attributes to storage.
Result<> synchronize(int descriptor);

/// Opens the folder at `path` for `fchmod`, `fstat` and the like; a link in its place is ELOOP.
Result<FileDescriptor> openDirectory(const std::string& path);

} // namespace brindle::platform
