#pragma once

namespace brindle::platform {

// Chrome ends a host by closing its pipes and then sending SIGTERM; a terminal sends SIGINT or
// SIGHUP. Handled asynchronously, any of them would end the process in the middle of a step and
// leave a child running and a hidden half-file behind. Instead they are held back once there is
// something to protect: the long waits (for input, for a child, for the network) watch for them,
// and a wait that sees one throws `TerminationRequested`, which unwinds through the owners of every
// child and temporary file to the host's loop.

/// Thrown by a wait when the process has been asked to end. Deliberately not a `std::exception`:
/// no handler that turns errors into replies may catch it.
struct TerminationRequested {};

/// Holds SIGTERM, SIGINT and SIGHUP back in this thread and every thread it starts from now on;
/// again does nothing. Call on the main thread before any other thread exists.
void deferTerminationRequests();

/// Whether one of those signals has arrived (always false before `deferTerminationRequests`).
bool terminationRequested() noexcept;

/// A descriptor that polls readable once the process has been asked to end, to wait on beside
/// others; -1 before `deferTerminationRequests`.
int terminationDescriptor() noexcept;

void throwIfTerminationRequested();

} // namespace brindle::platform
