#include "Platform/StandardDirectories.h"

#include "Platform/Path.h"
#include "Platform/ProcessInfo.h"

#include <pwd.h>
#include <unistd.h>

namespace brindle::platform {

namespace {
bool isAbsolute(const std::optional<std::string>& path) {
    return path && !path->empty() && path->front() == '/';
}
} // namespace

std::optional<std::string> homeDirectory() {
    if (auto home = environmentValue("HOME"); isAbsolute(home))
        return home;
    const passwd* entry = getpwuid(geteuid());
    if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] != '/')
        return std::nullopt;
    return std::string(entry->pw_dir);
}

std::optional<std::string> applicationSupportDirectory() {
    if (auto dataHome = environmentValue("XDG_DATA_HOME"); isAbsolute(dataHome))
        return dataHome;
    auto home = homeDirectory();
    if (!home)
        return std::nullopt;
    return appendingPathComponent(appendingPathComponent(*home, ".local"), "share");
}

std::optional<std::string> configurationDirectory() {
    if (auto configHome = environmentValue("XDG_CONFIG_HOME"); isAbsolute(configHome))
        return configHome;
    auto home = homeDirectory();
    if (!home)
        return std::nullopt;
    return appendingPathComponent(*home, ".config");
}

std::optional<std::string> cacheDirectory() {
    if (auto cacheHome = environmentValue("XDG_CACHE_HOME"); isAbsolute(cacheHome))
        return cacheHome;
    auto home = homeDirectory();
    if (!home)
        return std::nullopt;
    return appendingPathComponent(*home, ".cache");
}

} // namespace brindle::platform
