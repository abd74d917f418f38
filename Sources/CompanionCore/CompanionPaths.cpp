#include "CompanionCore/CompanionPaths.h"

#include "MetadataCore/ProductInfo.h"
#include "Platform/Path.h"

namespace brindle {

namespace {

using platform::appendingPathComponent;

std::string manifestName() {
    return std::string(KavoProduct::nativeHostName) + ".json";
}

} // namespace

CompanionPaths::CompanionPaths(std::string_view home)
    : homeDirectory(platform::absoluteStandardizedPath(home)) {}

std::string CompanionPaths::userApplicationsDirectory() const {
    return appendingPathComponent(homeDirectory, "Applications");
}

std::string CompanionPaths::installedApplicationURL() const {
    return appendingPathComponent(userApplicationsDirectory(),
                                  std::string(KavoProduct::companionName) + ".app");
}

std::string CompanionPaths::manifestDirectory() const {
    return appendingPathComponent(homeDirectory, ".config/google-chrome/NativeMessagingHosts");
}

std::string CompanionPaths::manifestURL() const {
    return appendingPathComponent(manifestDirectory(), manifestName());
}

std::string CompanionPaths::chromiumConfigurationDirectory() const {
    return appendingPathComponent(homeDirectory, ".config/chromium");
}

std::string CompanionPaths::chromiumManifestDirectory() const {
    return appendingPathComponent(chromiumConfigurationDirectory(), "NativeMessagingHosts");
}

std::string CompanionPaths::chromiumManifestURL() const {
    return appendingPathComponent(chromiumManifestDirectory(), manifestName());
}

std::string CompanionPaths::desktopEntryDirectory() const {
    return appendingPathComponent(homeDirectory, ".local/share/applications");
}

std::string CompanionPaths::desktopEntryURL() const {
    return appendingPathComponent(desktopEntryDirectory(),
                                  std::string(KavoProduct::companionBundleIdentifier) + ".desktop");
}

} // namespace brindle
