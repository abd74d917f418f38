#pragma once

#include <string>
#include <string_view>

namespace brindle {

/// Where the companion puts things in a user's home folder. Every place is derived from the home
/// folder alone, so that a temporary home holds all of them.
struct CompanionPaths {
    /// `home`, standardised ("." and ".." resolved, relative to the current folder if relative).
    explicit CompanionPaths(std::string_view home);

    std::string homeDirectory;

    /// ~/Applications, the per-user install place.
    std::string userApplicationsDirectory() const;
    /// ~/Applications/Kavo Helper.app
    std::string installedApplicationURL() const;
    /// Google Chrome's per-user folder of host manifests, and the manifest in it.
    std::string manifestDirectory() const;
    std::string manifestURL() const;
    /// Chromium's configuration folder (its presence says Chromium is used here), its folder of
    /// host manifests and the manifest in it.
    std::string chromiumConfigurationDirectory() const;
    std::string chromiumManifestDirectory() const;
    std::string chromiumManifestURL() const;
    /// The desktop's per-user folder of application entries, and the companion's entry.
    std::string desktopEntryDirectory() const;
    std::string desktopEntryURL() const;
};

} // namespace brindle
