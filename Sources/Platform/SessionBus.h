#pragma once

#include "Platform/Result.h"

#include <chrono>

struct sd_bus;

namespace brindle::platform {

/// A method or signal of an object on the session bus.
struct SessionBusMember {
    const char* objectPath;
    const char* interfaceName;
    const char* name;
};

/// A connection to the user's session bus for a few short exchanges. The bus library is loaded
/// when the first connection is made (the host starts often and rarely needs the bus).
class SessionBusConnection {
public:
    /// ENOSYS when the bus library is not installed; the library's reason (ENOENT,
    /// ECONNREFUSED, ...) when there is no session bus to connect to.
    static Result<SessionBusConnection> connect();

    SessionBusConnection(SessionBusConnection&& other) noexcept : bus_(other.bus_) {
        other.bus_ = nullptr;
    }
    SessionBusConnection& operator=(SessionBusConnection&&) = delete;
    SessionBusConnection(const SessionBusConnection&) = delete;
    SessionBusConnection& operator=(const SessionBusConnection&) = delete;
    ~SessionBusConnection();

    /// Calls a method without arguments on whoever owns `busName` now; a service that would have
    /// to be started for the name is not. Success once the owner has answered without an error;
    /// ETIMEDOUT when no answer came within `timeout` (connecting included), the error reply's
    /// errno otherwise (EHOSTUNREACH when nobody owns the name).
    Result<> callMethod(const char* busName, const SessionBusMember& method,
                        std::chrono::milliseconds timeout);

    /// Broadcasts a signal without arguments to every connection that listens for it, and
    /// returns once the bus has it. Meant to follow an answered call: on a connection that the
    /// bus has not accepted yet, it waits for that.
    Result<> broadcastSignal(const SessionBusMember& signal);

private:
    explicit SessionBusConnection(sd_bus* bus) : bus_(bus) {}
    sd_bus* bus_;
};

} // namespace brindle::platform
