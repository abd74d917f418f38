#pragma once

#include "CompanionCore/Browsers.h"

#include <string>
#include <string_view>

namespace brindle {

/// Where the companion puts things in a user's home folder, and where a package installs it for
/// every user. Every place is derived from the home folder, the configuration home and the
/// system's root alone, so that a temporary folder holds all of them.
struct CompanionPaths {
    /// `home`, `configurationHome` and `systemRoot` standardised ("." and ".." resolved, relative
    /// to the current folder if relative); no configuration home stands for ~/.config, no system
    /// root for "/".
    explicit CompanionPaths(std::string_view home, std::string_view configurationHome = {},
                            std::string_view systemRoot = {});

    std::string homeDirectory;
    /// Where the browsers keep their per-user folders ($XDG_CONFIG_HOME, ~/.config by default).
    std::string configurationHome;
    std::string systemRoot;

    /// /opt, where the package installs the companion for every user.
    std::string systemApplicationsDirectory() const;
    /// The manifest in a browser's system-wide folder; empty when the browser reads none.
    std::string systemManifestURL(const ChromiumBrowser& browser) const;
    /// ~/Applications, the per-user install place.
    std::string userApplicationsDirectory() const;
    /// ~/Applications/Kavo Helper.app
    std::string installedApplicationURL() const;
    /// A browser's per-user folder (its presence says the browser is used here), its folder of
    /// host manifests and the manifest in it.
    std::string browserFolder(const ChromiumBrowser& browser) const;
    std::string manifestDirectory(const ChromiumBrowser& browser) const;
    std::string manifestURL(const ChromiumBrowser& browser) const;
    /// Google Chrome's folder of host manifests, and the manifest in it.
    std::string manifestDirectory() const;
    std::string manifestURL() const;
    /// A sandboxed browser's profile folder.
    std::string sandboxFolder(const SandboxedBrowser& browser) const;
    /// The desktop's per-user folder of application entries, and the companion's entry.
    std::string desktopEntryDirectory() const;
    std::string desktopEntryURL() const;
};

} // namespace brindle
