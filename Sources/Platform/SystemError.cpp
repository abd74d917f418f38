#include "Platform/Result.h"

#include <cerrno>
#include <cstring>

namespace brindle::platform {

std::string errnoDescription(int errorNumber) {
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
    return text;
}

bool isStaleFileHandle(int errorNumber) {
    return errorNumber == ESTALE;
}

} // namespace brindle::platform
