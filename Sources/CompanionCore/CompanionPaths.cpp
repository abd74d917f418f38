#include "CompanionCore/CompanionPaths.h"

#include "MetadataCore/ProductInfo.h"
#include "Platform/PathsAndText.h"

namespace brindle {

namespace {

using platform::appendingPathComponent;

std::string manifestName() {
    return std::string(KavoProduct::nativeHostName) + ".json";
}

} // namespace

CompanionPaths::CompanionPaths(std::string_view home, std::string_view configHome,
                               std::string_view root)
    : homeDirectory(platform::absoluteStandardizedPath(home)),
      configurationHome(configHome.empty() ? appendingPathComponent(homeDirectory, ".config")
                                           : platform::absoluteStandardizedPath(configHome)),
      systemRoot(root.empty() ? "/" : platform::absoluteStandardizedPath(root)) {}

std::string CompanionPaths::systemApplicationsDirectory() const {
    return appendingPathComponent(systemRoot, "opt");
}

std::string CompanionPaths::systemManifestURL(const ChromiumBrowser& browser) const {
    if (browser.systemManifestFolder.empty())
        return {};
    return appendingPathComponent(
        appendingPathComponent(systemRoot, browser.systemManifestFolder.substr(1)), manifestName());
}

std::string CompanionPaths::userApplicationsDirectory() const {
    return appendingPathComponent(homeDirectory, "Applications");
}

std::string CompanionPaths::installedApplicationURL() const {
    return appendingPathComponent(userApplicationsDirectory(),
                                  std::string(KavoProduct::companionName) + ".app");
}

std::string CompanionPaths::browserFolder(const ChromiumBrowser& browser) const {
    return appendingPathComponent(configurationHome, browser.folder);
}

std::string CompanionPaths::manifestDirectory(const ChromiumBrowser& browser) const {
    return appendingPathComponent(browserFolder(browser), "NativeMessagingHosts");
}

std::string CompanionPaths::manifestURL(const ChromiumBrowser& browser) const {
    return appendingPathComponent(manifestDirectory(browser), manifestName());
}

std::string CompanionPaths::manifestDirectory() const {
    return manifestDirectory(chromiumBrowsers().front());
}

std::string CompanionPaths::manifestURL() const {
    return manifestURL(chromiumBrowsers().front());
}

std::string CompanionPaths::sandboxFolder(const SandboxedBrowser& browser) const {
    return appendingPathComponent(homeDirectory, browser.folder);
}

std::string CompanionPaths::desktopEntryDirectory() const {
    return appendingPathComponent(homeDirectory, ".local/share/applications");
}

std::string CompanionPaths::desktopEntryURL() const {
    return appendingPathComponent(desktopEntryDirectory(),
                                  std::string(KavoProduct::companionBundleIdentifier) + ".desktop");
}

} // namespace brindle
