#pragma once

#include <string>

namespace brindle::testing {

/// The Info.plist of a bundle with the identifier `identifier`.
std::string infoPropertyList(const std::string& identifier);

/// Builds a complete "Kavo Helper.app" at `bundle`: its Info.plist, a copy of the built host,
/// the save panel's bundle and three runnable stand-in tools.
void makeCompanionBundle(const std::string& bundle);

} // namespace brindle::testing
