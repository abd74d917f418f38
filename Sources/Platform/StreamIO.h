#pragma once

#include "Platform/Result.h"

#include <cstddef>
#include <string_view>

namespace brindle::platform {

// A program that talks through pipes spends its idle time waiting on them: for the next message,
// for the rest of one a writer left half-sent, for room in a pipe the reader no longer empties.
// Once termination requests are held back (see Termination.h), each of these waits also ends
// when one arrives, by throwing `TerminationRequested`; before that nothing else is watched and
// a wait returns at once, leaving the blocking read or write itself to wait.

/// Waits until `descriptor` can be read without blocking, or has reached its end.
Result<> waitUntilReadable(int descriptor);

/// Waits until `descriptor` has room for a write.
Result<> waitUntilWritable(int descriptor);

/// Reads what `descriptor` holds, at most `capacity` bytes into `buffer`; 0 at the end of input.
/// An interrupted read is tried again.
Result<std::size_t> readSome(int descriptor, char* buffer, std::size_t capacity);

/// Writes all of `bytes` to a pipe or socket, waiting for room before each write (and so ending
/// as those waits do). While termination requests are watched each write is at most as large
/// as a pipe reported writable is sure to take, so that no write blocks again. A write that
/// takes nothing is a broken pipe.
Result<> writeAllWaiting(int descriptor, std::string_view bytes);

/// Keeps a write to a pipe whose reader has gone from ending this program: the write fails with
/// EPIPE instead, for the caller to handle.
void ignoreBrokenPipeSignals();

} // namespace brindle::platform
