#include "Platform/FileManagerService.h"

#include "DynamicLibrary.h"

#include <systemd/sd-bus.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <time.h>

namespace brindle::platform {

namespace {

// sd-bus comes with libsystemd, which brings compression and crypto libraries along; only a
// reveal needs it, so it is loaded then (see DynamicLibrary.h).
struct SdBusLibrary {
    decltype(&::sd_bus_call_async) callAsync;
    decltype(&::sd_bus_close_unref) closeUnref;
    decltype(&::sd_bus_message_append_strv) messageAppendStrv;
    decltype(&::sd_bus_message_append) messageAppend;
    decltype(&::sd_bus_message_new_method_call) messageNewMethodCall;
    decltype(&::sd_bus_message_unref) messageUnref;
    decltype(&::sd_bus_open_user) openUser;
    decltype(&::sd_bus_process) process;
    decltype(&::sd_bus_slot_unref) slotUnref;
    decltype(&::sd_bus_wait) wait;
};

std::optional<SdBusLibrary> loadSdBus() {
    void* library = loadLibrary("libsystemd.so.0");
    if (library == nullptr)
        return std::nullopt;
    SdBusLibrary functions{};
    const bool complete =
        resolveSymbol(library, "sd_bus_call_async", functions.callAsync) &&
        resolveSymbol(library, "sd_bus_close_unref", functions.closeUnref) &&
        resolveSymbol(library, "sd_bus_message_append_strv", functions.messageAppendStrv) &&
        resolveSymbol(library, "sd_bus_message_append", functions.messageAppend) &&
        resolveSymbol(library, "sd_bus_message_new_method_call", functions.messageNewMethodCall) &&
        resolveSymbol(library, "sd_bus_message_unref", functions.messageUnref) &&
        resolveSymbol(library, "sd_bus_open_user", functions.openUser) &&
        resolveSymbol(library, "sd_bus_process", functions.process) &&
        resolveSymbol(library, "sd_bus_slot_unref", functions.slotUnref) &&
        resolveSymbol(library, "sd_bus_wait", functions.wait);
    if (!complete)
        return std::nullopt;
    return functions;
}

const SdBusLibrary* sdBusLibrary() {
    static const std::optional<SdBusLibrary> library = loadSdBus();
    return library ? &*library : nullptr;
}

// Only called once the library is known to be loaded.
const SdBusLibrary& sdBus() {
    return *sdBusLibrary();
}

// The file manager may be started on demand by the bus; a request still unanswered after this
// long is left to it, so the caller is never held up for long.
constexpr uint64_t showItemsTimeoutMicroseconds = 2'000'000;

// Closed without flushing: flushing waits for a bus that may never answer.
struct BusRelease {
    void operator()(sd_bus* bus) const noexcept { sdBus().closeUnref(bus); }
};
struct SlotRelease {
    void operator()(sd_bus_slot* slot) const noexcept { sdBus().slotUnref(slot); }
};
struct MessageRelease {
    void operator()(sd_bus_message* message) const noexcept { sdBus().messageUnref(message); }
};

bool isUnreservedInURI(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

// Every byte outside the unreserved set (and the separating slashes) is percent-encoded, so
// spaces, "%", "#", "?" and non-ASCII names survive the trip through the URI unchanged.
std::string fileURI(const std::string& path) {
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char character : path) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte == '/' || isUnreservedInURI(byte)) {
            uri += character;
            continue;
        }
        uri += '%';
        uri += hexDigits[byte >> 4];
        uri += hexDigits[byte & 0x0f];
    }
    return uri;
}

uint64_t monotonicMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000 +
           static_cast<uint64_t>(now.tv_nsec) / 1'000;
}

int recordAnswer(sd_bus_message* /*reply*/, void* answered, sd_bus_error* /*error*/) {
    *static_cast<bool*>(answered) = true;
    return 0;
}

// A blocking call would wait for the bus's own authentication timeout (minutes) when the
// socket accepts but never answers; the deadline here covers connecting and the call alike.
void waitForAnswer(sd_bus* bus, const bool& answered, uint64_t deadline) {
    while (!answered) {
        const int processed = sdBus().process(bus, nullptr);
        if (processed < 0)
            return;
        if (processed > 0)
            continue;
        const uint64_t now = monotonicMicroseconds();
        if (now >= deadline || sdBus().wait(bus, deadline - now) < 0)
            return;
    }
}

} // namespace

void showItemsInFileManager(const std::string& path) {
    if (sdBusLibrary() == nullptr)
        return;
    sd_bus* rawBus = nullptr;
    if (sdBus().openUser(&rawBus) < 0)
        return;
    const std::unique_ptr<sd_bus, BusRelease> bus(rawBus);

    sd_bus_message* rawMessage = nullptr;
    if (sdBus().messageNewMethodCall(bus.get(), &rawMessage, "org.freedesktop.FileManager1",
                                     "/org/freedesktop/FileManager1",
                                     "org.freedesktop.FileManager1", "ShowItems") < 0)
        return;
    const std::unique_ptr<sd_bus_message, MessageRelease> message(rawMessage);

    std::string uri = fileURI(path);
    std::array<char*, 2> uris{uri.data(), nullptr};
    if (sdBus().messageAppendStrv(message.get(), uris.data()) < 0)
        return;
    // No startup notification id: the host is not a graphical application.
    if (sdBus().messageAppend(message.get(), "s", "") < 0)
        return;

    bool answered = false;
    sd_bus_slot* rawSlot = nullptr;
    if (sdBus().callAsync(bus.get(), &rawSlot, message.get(), recordAnswer, &answered,
                          showItemsTimeoutMicroseconds) < 0)
        return;
    const std::unique_ptr<sd_bus_slot, SlotRelease> slot(rawSlot);
    waitForAnswer(bus.get(), answered, monotonicMicroseconds() + showItemsTimeoutMicroseconds);
}

} // namespace brindle::platform
