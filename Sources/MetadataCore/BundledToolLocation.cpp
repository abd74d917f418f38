#include "MetadataCore/BundledToolLocation.h"

#include "Platform/FileSystem.h"
#include "Platform/Path.h"
#include "Platform/ProcessInfo.h"
#include "Platform/StandardDirectories.h"

namespace brindle {

using namespace platform;

std::optional<std::string> BundledToolLocation::executable(std::string_view name) {
    if (auto override = configuredValue(toolsDirectoryVariable))
        return executable(name, *override);

    // X.app/Contents/MacOS/brindle-host -> X.app/Contents/Resources/Tools
    const std::string contents =
        deletingLastPathComponent(deletingLastPathComponent(standardizedPath(executablePath())));
    const std::string bundleTools =
        appendingPathComponent(appendingPathComponent(contents, "Resources"), "Tools");
    if (auto tool = executable(name, bundleTools))
        return tool;

    const auto dataFolder = applicationSupportDirectory();
    if (!dataFolder)
        return std::nullopt;
    std::string userTools = *dataFolder;
    for (const char* component : {"Brindle", "Tools", "current"})
        userTools = appendingPathComponent(userTools, component);
    return executable(name, userTools);
}

std::optional<std::string> BundledToolLocation::executable(std::string_view name,
                                                           std::string_view directory) {
    if (name.empty())
        return std::nullopt;
    const std::string standardDirectory = standardizedPath(directory);
    const std::string candidate = standardizedPath(appendingPathComponent(standardDirectory, name));
    if (deletingLastPathComponent(candidate) != standardDirectory)
        return std::nullopt;
    if (!isExecutableFile(candidate))
        return std::nullopt;
    return candidate;
}

} // namespace brindle
