#pragma once

#include "CompanionCore/CompanionInstallerError.h"
#include "CompanionCore/CompanionPaths.h"

#include <string>
#include <vector>

namespace brindle {

/// Whether Chrome can start the host of this bundle.
struct CompanionConnectionState {
    enum class Kind { needsRepair, connected, disconnected };

    static CompanionConnectionState needsRepair(std::string reason) {
        return {Kind::needsRepair, std::move(reason)};
    }
    static CompanionConnectionState connected() { return {Kind::connected, {}}; }
    static CompanionConnectionState disconnected() { return {Kind::disconnected, {}}; }

    Kind kind = Kind::disconnected;
    std::string reason; // what to show for `needsRepair`
    bool operator==(const CompanionConnectionState&) const = default;
};

/// Installs the companion's bundle into ~/Applications and registers its host with Chrome (and
/// with Chromium where it is used). Paths are never followed through a symbolic link on the way
/// from the home folder, and nothing half-installed is ever left under the bundle's name.
///
/// Failures are `CompanionInstallerError`, except where the system's own reason is passed on
/// unchanged (a folder that could not be created, a manifest that could not be removed), which
/// comes as `std::system_error`.
class CompanionInstaller {
public:
    CompanionInstaller(std::string_view bundleURL, std::string_view homeDirectory);

    const std::string& bundleURL() const { return bundleURL_; }
    const CompanionPaths& paths() const { return paths_; }

    std::string hostURL() const;
    std::string saveUIApplicationURL() const;
    std::string toolsDirectoryURL() const;
    std::string companionExecutableURL() const;
    /// In ~/Applications or in the system-wide /opt.
    bool isInStableApplicationsDirectory() const;

    /// The bundle is the companion and carries a runnable host, the save panel and the tools.
    void validateApplication() const;
    /// Returns the bundle that should run from now on: this one when it is in a stable place,
    /// otherwise the copy just installed into ~/Applications.
    std::string installOrUpdateApplication() const;

    /// The host manifest for this bundle: sorted keys, indented, ending in a line feed.
    std::string manifestData() const;
    void connect() const;
    void disconnect() const;
    /// The worst state among the manifests that exist; never throws.
    CompanionConnectionState connectionState() const;

private:
    void requireRegularFile(const std::string& path, const std::string& label) const;
    void requireBundle(const std::string& path, std::string_view identifier,
                       const std::string& label) const;
    void ensureSafeDirectory(const std::string& path) const;
    void writeDesktopEntry(const std::string& bundle) const;
    std::vector<std::string> manifestURLs() const;
    CompanionConnectionState manifestState(const std::string& manifest) const;

    std::string bundleURL_;
    CompanionPaths paths_;
};

/// The CFBundleIdentifier of the bundle at `bundle`, or "" when it has none.
std::string bundleIdentifier(const std::string& bundle);

} // namespace brindle
