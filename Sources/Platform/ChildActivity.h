#pragma once

#include "Platform/ChildProcess.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <sys/types.h>

namespace brindle::platform {

/// A count that moves whenever the process `pid` of this user gets on with its work: the bytes it
/// has read and written through files, and the bytes that have arrived on its TCP connections.
/// Only a change between two looks means anything. Nothing when the process cannot be looked at.
std::optional<std::uint64_t> processActivity(pid_t pid);

/// How a watched child ended.
struct WatchedExit {
    ChildExit exit;
    bool stalled = false; // killed, with its process group, for want of activity
};

/// Waits for the child to end, however long it takes while its activity moves; a child whose
/// activity stays still for `stallLimit` is killed. A child that cannot be looked at is given
/// the benefit of the doubt. Ends early, as every wait does, once this process is asked to end.
WatchedExit waitWhileActive(ChildProcess& child, std::chrono::milliseconds stallLimit);

} // namespace brindle::platform
