#pragma once

#include <span>
#include <string>
#include <string_view>

namespace brindle {

/// A Chromium-family browser that starts the native messaging hosts named in the manifests of
/// its per-user folder and, where it has one, of its system-wide folder. The per-user manifest
/// wins when both are there.
struct ChromiumBrowser {
    std::string_view name;                 // as the user knows it
    std::string_view folder;               // its per-user folder, under the configuration home
    std::string_view systemManifestFolder; // absolute; empty when the browser reads none
};

/// Every such browser a Linux user may run, Google Chrome first: its manifest is written even
/// where Chrome has not been started yet.
std::span<const ChromiumBrowser> chromiumBrowsers();

/// A browser packaged in a sandbox that cannot start a program of the user's, so no manifest can
/// connect it.
struct SandboxedBrowser {
    std::string_view name;   // with its packaging: "Google Chrome（Flatpak）"
    std::string_view folder; // its profile, under the home folder
    std::string_view remedy; // the packaged browser to use instead
};

std::span<const SandboxedBrowser> sandboxedBrowsers();

/// What the user is told about a sandboxed browser found here.
std::string sandboxNotice(const SandboxedBrowser& browser);

} // namespace brindle
