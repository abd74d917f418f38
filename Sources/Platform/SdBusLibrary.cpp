#include "SdBusLibrary.h"

#include "DynamicLibrary.h"

#include <memory>
#include <optional>
#include <time.h>

namespace brindle::platform {

namespace {

std::optional<SdBusLibrary> loadSdBus() {
    void* library = loadLibrary("libsystemd.so.0");
    if (library == nullptr)
        return std::nullopt;
    SdBusLibrary functions{};
    const bool complete =
        resolveSymbol(library, "sd_bus_call_async", functions.callAsync) &&
        resolveSymbol(library, "sd_bus_close_unref", functions.closeUnref) &&
        resolveSymbol(library, "sd_bus_emit_signal", functions.emitSignal) &&
        resolveSymbol(library, "sd_bus_flush", functions.flush) &&
        resolveSymbol(library, "sd_bus_message_append_strv", functions.messageAppendStrv) &&
        resolveSymbol(library, "sd_bus_message_append", functions.messageAppend) &&
        resolveSymbol(library, "sd_bus_message_get_errno", functions.messageGetErrno) &&
        resolveSymbol(library, "sd_bus_message_new_method_call", functions.messageNewMethodCall) &&
        resolveSymbol(library, "sd_bus_message_set_auto_start", functions.messageSetAutoStart) &&
        resolveSymbol(library, "sd_bus_message_unref", functions.messageUnref) &&
        resolveSymbol(library, "sd_bus_open_user", functions.openUser) &&
        resolveSymbol(library, "sd_bus_process", functions.process) &&
        resolveSymbol(library, "sd_bus_slot_unref", functions.slotUnref) &&
        resolveSymbol(library, "sd_bus_wait", functions.wait);
    if (!complete)
        return std::nullopt;
    return functions;
}

struct SlotRelease {
    void operator()(sd_bus_slot* slot) const noexcept { sdBus().slotUnref(slot); }
};

struct PendingCall {
    bool answered = false;
    int error = 0;
};

int recordAnswer(sd_bus_message* reply, void* pending, sd_bus_error* /*error*/) {
    auto& call = *static_cast<PendingCall*>(pending);
    call.answered = true;
    call.error = sdBus().messageGetErrno(reply); // 0 for a method return
    return 0;
}

std::uint64_t monotonicMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 +
           static_cast<std::uint64_t>(now.tv_nsec) / 1'000;
}

} // namespace

const SdBusLibrary* sdBusLibrary() {
    static const std::optional<SdBusLibrary> library = loadSdBus();
    return library ? &*library : nullptr;
}

Result<> callWithin(sd_bus* bus, sd_bus_message* call, std::uint64_t timeoutMicroseconds) {
    const std::uint64_t deadline = monotonicMicroseconds() + timeoutMicroseconds;
    PendingCall pending;
    sd_bus_slot* rawSlot = nullptr;
    if (const int error =
            sdBus().callAsync(bus, &rawSlot, call, recordAnswer, &pending, timeoutMicroseconds);
        error < 0)
        return errnoCode(-error);
    const std::unique_ptr<sd_bus_slot, SlotRelease> slot(rawSlot);
    while (!pending.answered) {
        const int processed = sdBus().process(bus, nullptr);
        if (processed < 0)
            return errnoCode(-processed);
        if (processed > 0)
            continue;
        const std::uint64_t now = monotonicMicroseconds();
        if (now >= deadline)
            return errnoCode(ETIMEDOUT);
        if (const int waited = sdBus().wait(bus, deadline - now); waited < 0)
            return errnoCode(-waited);
    }
    if (pending.error != 0)
        return errnoCode(pending.error);
    return success();
}

} // namespace brindle::platform
