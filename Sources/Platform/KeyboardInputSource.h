#pragma once

#include <optional>
#include <string>

namespace brindle::platform {

/// The identifier of the keyboard input source (layout) in use. Linux desktops share no service
/// that names or switches it, so there is none: callers then leave the user's layout alone.
inline std::optional<std::string> currentKeyboardInputSource() {
    return std::nullopt;
}

} // namespace brindle::platform
