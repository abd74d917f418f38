#pragma once

#include "Platform/Result.h"

#include <cstdint>

namespace brindle::platform {

/// The ways bytes can travel from one open file to another, fastest first.
enum class FileDataTransfer {
    /// `copy_file_range`: a clone or a server-side copy where the file systems can do one.
    kernelCopy,
    /// `sendfile`: the kernel copies page by page, with no trip through a buffer of ours.
    kernelSend,
    /// `read` and `write` through a buffer: what every file system takes.
    readWrite,
};

/// Copies `from`, from its position to its end, to `to` at its position, starting with `first`
/// and falling back to the next way whenever a file system refuses one. Each piece is sent on
/// to storage as soon as it is written, so that flushing the copy afterwards has little left to
/// wait for. `expectedSize` (the source's size when it was opened) reserves the room up front;
/// the copy still ends where the source does.
Result<> copyFileData(int from, int to, std::int64_t expectedSize,
                      FileDataTransfer first = FileDataTransfer::kernelCopy);

} // namespace brindle::platform
