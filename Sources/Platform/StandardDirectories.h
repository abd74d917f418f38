#pragma once

#include <optional>
#include <string>

namespace brindle::platform {

/// The user's home folder: $HOME, else the password database.
std::optional<std::string> homeDirectory();

/// Where the user's application data lives (the per-user Application Support folder):
/// $XDG_DATA_HOME when it is absolute, else ~/.local/share.
std::optional<std::string> applicationSupportDirectory();

/// Where the user's programs keep their settings: $XDG_CONFIG_HOME when it is absolute, else
/// ~/.config.
std::optional<std::string> configurationDirectory();

/// Where the user's programs keep what they can compute again ($XDG_CACHE_HOME when it is
/// absolute, else ~/.cache).
std::optional<std::string> cacheDirectory();

} // namespace brindle::platform
