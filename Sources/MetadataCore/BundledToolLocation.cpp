#include "MetadataCore/BundledToolLocation.h"

#include "Platform/Files.h"
#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"

namespace brindle {

using namespace platform;

std::optional<std::string> BundledToolLocation::executable(std::string_view name) {
    if (auto override = configuredValue(toolsDirectoryVariable))
        return executable(name, *override);

    // X.app/Contents/MacOS/brindle-host -> X.app
    const std::string bundle = deletingLastPathComponent(
        deletingLastPathComponent(deletingLastPathComponent(standardizedPath(executablePath()))));
    if (auto tool = executable(name, bundleToolsDirectory(bundle)))
        return tool;

    const auto dataFolder = applicationSupportDirectory();
    if (!dataFolder)
        return std::nullopt;
    std::string userTools = *dataFolder;
    for (const char* component : {"Brindle", "Tools", "current"})
        userTools = appendingPathComponent(userTools, component);
    return executable(name, userTools);
}

std::string BundledToolLocation::bundleToolsDirectory(std::string_view bundle) {
    const std::string tools = appendingPathComponent(bundle, "Contents/Resources/Tools");
    // Whatever stands there, even a link or a file, is the bundle's own: only a bundle with
    // nothing there at all runs the system's tools. A program outside any bundle (in the build
    // tree, say) has no tools of its own either way.
    if (!bundle.ends_with(".app"))
        return tools;
    if (const auto status = fileStatusAtPath(tools);
        !status && status.error() == std::errc::no_such_file_or_directory)
        return systemToolsDirectory;
    return tools;
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
