#include "Platform/PathsAndText.h"

#include <array>
#include <cstdint>
#include <random>
#include <sys/random.h>

namespace brindle::platform {

std::string randomUUIDString() {
    std::array<std::uint8_t, 16> bytes{};
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t count = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (count <= 0)
            break;
        filled += static_cast<std::size_t>(count);
    }
    if (filled < bytes.size()) {
        std::random_device device; // getrandom unavailable: the C++ library's source instead
        for (auto& byte : bytes)
            byte = static_cast<std::uint8_t>(device());
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);

    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

bool isUUIDString(std::string_view text) {
    if (text.size() != uuidStringLength)
        return false;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const char character = text[index];
        const bool isDash = index == 8 || index == 13 || index == 18 || index == 23;
        const bool isDigit =
            (character >= '0' && character <= '9') || (character >= 'A' && character <= 'F');
        if (isDash ? character != '-' : !isDigit)
            return false;
    }
    return true;
}

} // namespace brindle::platform
