#pragma once

#include "Platform/Result.h"

#include <systemd/sd-bus.h>

#include <cstdint>

namespace brindle::platform {

// sd-bus comes with libsystemd, which brings compression and crypto libraries along; only the
// few requests on the session bus need it, so it is loaded then (see DynamicLibrary.h).
struct SdBusLibrary {
    decltype(&::sd_bus_call_async) callAsync;
    decltype(&::sd_bus_close_unref) closeUnref;
    decltype(&::sd_bus_emit_signal) emitSignal;
    decltype(&::sd_bus_flush) flush;
    decltype(&::sd_bus_message_append_strv) messageAppendStrv;
    decltype(&::sd_bus_message_append) messageAppend;
    decltype(&::sd_bus_message_get_errno) messageGetErrno;
    decltype(&::sd_bus_message_new_method_call) messageNewMethodCall;
    decltype(&::sd_bus_message_set_auto_start) messageSetAutoStart;
    decltype(&::sd_bus_message_unref) messageUnref;
    decltype(&::sd_bus_open_user) openUser;
    decltype(&::sd_bus_process) process;
    decltype(&::sd_bus_slot_unref) slotUnref;
    decltype(&::sd_bus_wait) wait;
};

/// The library, loaded on the first call; null when it is not installed.
const SdBusLibrary* sdBusLibrary();

/// Only once `sdBusLibrary()` has been found.
inline const SdBusLibrary& sdBus() {
    return *sdBusLibrary();
}

// Closed without flushing: flushing waits for a bus that may never answer.
struct BusRelease {
    void operator()(sd_bus* bus) const noexcept { sdBus().closeUnref(bus); }
};
struct MessageRelease {
    void operator()(sd_bus_message* message) const noexcept { sdBus().messageUnref(message); }
};

/// Sends the method call and waits for its reply, never beyond `timeoutMicroseconds`, which also
/// covers connecting: a blocking call would wait for the bus's own authentication timeout
/// (minutes) when the socket accepts but never answers. Success for a method return; the
/// error reply's errno, or ETIMEDOUT.
Result<> callWithin(sd_bus* bus, sd_bus_message* call, std::uint64_t timeoutMicroseconds);

} // namespace brindle::platform
