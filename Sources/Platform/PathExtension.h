#pragma once

#include <string>
#include <string_view>

namespace brindle::platform {

/// The part of the last path component after its final ".", as a file URL's path extension:
/// nothing for "name", ".hidden" or "..", and an empty extension for "name.".
std::string pathExtension(std::string_view path);

/// The path without its extension and that extension's dot; unchanged when it has none.
std::string deletingPathExtension(std::string_view path);

} // namespace brindle::platform
