#include "Platform/PathsAndText.h"

#include "Platform/Processes.h"

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

namespace {
// The XDG base directory named by `variable` when it is absolute, else `fallback` in the home.
std::optional<std::string> xdgDirectory(const char* variable, const char* fallback) {
    if (auto configured = environmentValue(variable); isAbsolute(configured))
        return configured;
    auto home = homeDirectory();
    if (!home)
        return std::nullopt;
    return appendingPathComponent(*home, fallback);
}
} // namespace

std::optional<std::string> applicationSupportDirectory() {
    return xdgDirectory("XDG_DATA_HOME", ".local/share");
}

std::optional<std::string> configurationDirectory() {
    return xdgDirectory("XDG_CONFIG_HOME", ".config");
}

std::optional<std::string> cacheDirectory() {
    return xdgDirectory("XDG_CACHE_HOME", ".cache");
}

} // namespace brindle::platform
