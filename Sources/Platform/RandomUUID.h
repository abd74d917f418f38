#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brindle::platform {

/// A new random (version 4) UUID in canonical upper-case text, "E621E1F8-C36C-495A-93FC-...".
std::string randomUUIDString();

inline constexpr std::size_t uuidStringLength = 36;

/// Whether `text` has the form `randomUUIDString` gives (upper-case hexadecimal digits, dashes
/// after the 8th, 12th, 16th and 20th).
bool isUUIDString(std::string_view text);

} // namespace brindle::platform
