#pragma once

#include "CompanionCore/CompanionInstallerError.h"
#include "CompanionCore/CompanionPaths.h"
#include "CompanionCore/ConnectionState.h"
#include "Platform/Result.h"

#include <string>
#include <vector>

namespace brindle {

/// Installs the companion's bundle into ~/Applications and registers its host with every
/// Chromium-family browser used here. Paths are never followed through a symbolic link on the way
/// from the home folder, and nothing half-installed is ever left under the bundle's name.
///
/// Failures are `CompanionInstallerError`, except where the system's own reason is passed on
/// unchanged (a folder that could not be created, a manifest that could not be removed), which
/// comes as `std::system_error`.
class CompanionInstaller {
public:
    CompanionInstaller(std::string_view bundleURL, std::string_view homeDirectory);
    CompanionInstaller(std::string_view bundleURL, CompanionPaths paths);

    const std::string& bundleURL() const { return bundleURL_; }
    const CompanionPaths& paths() const { return paths_; }

    std::string hostURL() const;
    std::string saveUIApplicationURL() const;
    std::string toolsDirectoryURL() const;
    std::string companionExecutableURL() const;
    /// In ~/Applications or in the system-wide /opt.
    bool isInStableApplicationsDirectory() const;
    /// In /opt, where the package installs it for every user: the package manager removes it.
    bool isSystemWideInstallation() const;

    /// The bundle is the companion and carries a runnable host, the save panel and the tools.
    void validateApplication() const;
    /// Returns the bundle that should run from now on: this one when it is in a stable place,
    /// otherwise the copy just installed into ~/Applications.
    std::string installOrUpdateApplication() const;

    /// The host manifest for this bundle: sorted keys, indented, ending in a line feed.
    std::string manifestData() const;
    /// Registers the host with Google Chrome and with every other browser whose folder is here,
    /// except a browser that starts it already through its system-wide manifest.
    void connect() const;
    /// Removes the host's manifest from every browser's folder.
    void disconnect() const;
    /// Disconnects, then removes the companion installed in ~/Applications and its menu entry.
    /// A system-wide installation is refused: only its package can remove it.
    void uninstall() const;
    /// Google Chrome and each other browser whose folder is here, each with its own state, judged
    /// from the manifest the browser reads: the per-user one, or else the system-wide one.
    std::vector<BrowserConnection> browserConnections() const;
    /// The sandboxed browsers whose profile is here: no manifest reaches them.
    std::vector<SandboxedBrowser> sandboxedBrowsersPresent() const;
    /// The worst state among `browserConnections`: a browser without the manifest while another
    /// has it needs repair. Never throws.
    CompanionConnectionState connectionState() const;

private:
    void requireRegularFile(const std::string& path, const std::string& label) const;
    void requireBundle(const std::string& path, std::string_view identifier,
                       const std::string& label) const;
    void ensureSafeDirectory(const std::string& path) const;
    bool isSafeExistingDirectory(const std::string& path) const;
    bool walkFromHome(const std::string& path, bool create) const;
    void writeDesktopEntry(const std::string& bundle) const;
    std::vector<ChromiumBrowser> presentBrowsers() const;
    CompanionConnectionState manifestState(const std::string& manifest) const;
    CompanionConnectionState manifestContentState(const platform::Result<std::string>& bytes) const;
    CompanionConnectionState systemManifestState(const ChromiumBrowser& browser) const;

    std::string bundleURL_;
    CompanionPaths paths_;
};

/// Whether `bytes` are a host manifest that lets the browsers start the host at `hostPath` for our
/// extension.
bool isCurrentHostManifest(std::string_view bytes, std::string_view hostPath);

/// The CFBundleIdentifier of the bundle at `bundle`, or "" when it has none.
std::string bundleIdentifier(const std::string& bundle);

} // namespace brindle
