#pragma once

#include <string>

namespace brindle::platform {

/// A new random (version 4) UUID in canonical upper-case text, "E621E1F8-C36C-495A-93FC-...".
std::string randomUUIDString();

} // namespace brindle::platform
