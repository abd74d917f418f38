#include "Platform/DesktopServices.h"

#include "SdBusLibrary.h"

#include <memory>

namespace brindle::platform {

Result<SessionBusConnection> SessionBusConnection::connect() {
    if (sdBusLibrary() == nullptr)
        return errnoCode(ENOSYS);
    sd_bus* bus = nullptr;
    if (const int error = sdBus().openUser(&bus); error < 0)
        return errnoCode(-error);
    return SessionBusConnection(bus);
}

SessionBusConnection::~SessionBusConnection() {
    if (bus_ != nullptr)
        BusRelease()(bus_);
}

Result<> SessionBusConnection::callMethod(const char* busName, const SessionBusMember& method,
                                          std::chrono::milliseconds timeout) {
    sd_bus_message* rawCall = nullptr;
    if (const int error = sdBus().messageNewMethodCall(bus_, &rawCall, busName, method.objectPath,
                                                       method.interfaceName, method.name);
        error < 0)
        return errnoCode(-error);
    const std::unique_ptr<sd_bus_message, MessageRelease> call(rawCall);
    if (const int error = sdBus().messageSetAutoStart(call.get(), 0); error < 0)
        return errnoCode(-error);
    return callWithin(bus_, call.get(),
                      static_cast<std::uint64_t>(
                          std::chrono::duration_cast<std::chrono::microseconds>(timeout).count()));
}

Result<> SessionBusConnection::broadcastSignal(const SessionBusMember& signal) {
    if (const int error =
            sdBus().emitSignal(bus_, signal.objectPath, signal.interfaceName, signal.name, nullptr);
        error < 0)
        return errnoCode(-error);
    if (const int error = sdBus().flush(bus_); error < 0)
        return errnoCode(-error);
    return success();
}

} // namespace brindle::platform
