#include "Platform/DesktopServices.h"

#include "SdBusLibrary.h"

#include <array>
#include <cstdint>
#include <memory>

namespace brindle::platform {

namespace {

// The file manager may be started on demand by the bus; a request still unanswered after this
// long is left to it, so the caller is never held up for long.
constexpr uint64_t showItemsTimeoutMicroseconds = 2'000'000;

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

    // Best effort: whether and how the file manager answered changes nothing for the caller.
    static_cast<void>(callWithin(bus.get(), message.get(), showItemsTimeoutMicroseconds));
}

} // namespace brindle::platform
