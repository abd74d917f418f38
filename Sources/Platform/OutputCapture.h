#pragma once

#include "Platform/FileDescriptor.h"
#include "Platform/Result.h"

#include <cstddef>
#include <string>

namespace brindle::platform {

/// An anonymous in-memory file to hand a child as one of its output streams. It keeps the first
/// `capacity` bytes written to it and refuses the rest (the writer gets EPERM), so a chatty child
/// neither blocks on it, as it would on a pipe that nobody reads, nor makes it grow without end.
Result<FileDescriptor> createOutputCapture(std::size_t capacity);

/// What has been written to such a file.
Result<std::string> capturedOutput(int descriptor);

} // namespace brindle::platform
