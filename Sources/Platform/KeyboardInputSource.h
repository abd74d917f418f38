#pragma once

#include <optional>
#include <string>

namespace brindle::platform {

// Linux desktops share no service that names or switches the keyboard input source (layout), so
// there is none to read and switching does nothing: callers then leave the user's layout alone.

/// The identifier of the keyboard input source in use.
inline std::optional<std::string> currentKeyboardInputSource() {
    return std::nullopt;
}

/// The ASCII-capable input source the desktop would choose for this user.
inline std::optional<std::string> currentASCIICapableKeyboardInputSource() {
    return std::nullopt;
}

/// The enabled input source with this identifier.
inline std::optional<std::string> enabledKeyboardInputSource(const std::string& /*identifier*/) {
    return std::nullopt;
}

/// Makes the input source the current one; false when that did not happen.
inline bool selectKeyboardInputSource(const std::string& /*identifier*/) {
    return false;
}

} // namespace brindle::platform
