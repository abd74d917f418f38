#pragma once

#include <optional>
#include <string>

namespace brindle {

/// The URL as it may be recorded: an http or https URL with a host, without user name and
/// password. Nothing for anything else, for an empty text and for one longer than 8192 bytes.
std::optional<std::string> sanitizedWebURL(const std::optional<std::string>& text);

} // namespace brindle
