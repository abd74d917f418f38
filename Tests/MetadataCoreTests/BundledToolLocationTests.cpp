#include "MetadataCore/BundledToolLocation.h"

#include "Platform/Processes.h"
#include "Support/TemporaryDirectory.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace brindle {
namespace {

using namespace testing;
using Found = std::optional<std::string>;

// A program inside X.app/Contents/MacOS, a user data folder, and a tools override folder, each
// able to hold a tool.
TEST(ToolLocation, OverrideAloneElseBundleElseDataFolderAndOnlyExecutablesWithin) {
    TemporaryDirectory root;
    const std::string bundle = root.file("X.app/Contents/Resources/Tools"),
                      user = root.file("data/Brindle/Tools/current"), other = root.file("override");
    for (const std::string& folder : {root.file("X.app/Contents/MacOS"), bundle, user, other})
        std::filesystem::create_directories(folder);
    std::string program = root.file("X.app/Contents/MacOS/brindle-host");
    char* argv[] = {program.data(), nullptr};
    platform::setProgramArguments(1, argv);
    setenv("XDG_DATA_HOME", root.file("data").c_str(), 1);
    const auto install = [](const std::string& directory, unsigned mode = 0755) {
        writeFile(directory + "/cwebp", "#!/bin/sh\n", mode);
        return directory + "/cwebp";
    };
    const auto found = [] { return BundledToolLocation::executable("cwebp"); };
    install(bundle, 0644);
    EXPECT_EQ(found(), std::nullopt);
    EXPECT_EQ(found(), Found(install(user)));
    EXPECT_EQ(found(), Found(install(bundle)));
    // A folder is no tool, but a link to an executable is one.
    std::filesystem::remove(bundle + "/cwebp");
    std::filesystem::create_directories(bundle + "/cwebp");
    EXPECT_EQ(found(), Found(user + "/cwebp"));
    std::filesystem::remove(bundle + "/cwebp");
    std::filesystem::create_symlink(install(root.path()), bundle + "/cwebp");
    EXPECT_EQ(found(), Found(bundle + "/cwebp"));
    // That an empty override is ignored shows in the host's test of the bundle.
    // Under the override nothing else is tried.
    setenv(BundledToolLocation::toolsDirectoryVariable, other.c_str(), 1);
    EXPECT_EQ(found(), std::nullopt);
    install(other, 0644);
    EXPECT_EQ(found(), std::nullopt);
    EXPECT_EQ(found(), Found(install(other)));
    unsetenv(BundledToolLocation::toolsDirectoryVariable);

    // Names that leave the folder find nothing: a tool one level up from the tools folder must not
    // be reachable through "..".
    std::filesystem::remove(bundle + "/cwebp");
    install(bundle);
    install(root.file("X.app/Contents/Resources"));
    for (const char* name : {"../cwebp", "./../cwebp", "..", ".", "", "sub/../../cwebp"})
        EXPECT_EQ(BundledToolLocation::executable(name, bundle), std::nullopt) << name;
    // Names that stay inside the folder once resolved are still the tool itself.
    for (const char* name : {"./cwebp", "../Tools/cwebp"})
        EXPECT_EQ(BundledToolLocation::executable(name, bundle), bundle + "/cwebp");
    setenv(BundledToolLocation::toolsDirectoryVariable, bundle.c_str(), 1);
    EXPECT_EQ(BundledToolLocation::executable("../cwebp"), std::nullopt);
    unsetenv(BundledToolLocation::toolsDirectoryVariable);
    unsetenv("XDG_DATA_HOME");
}

} // namespace
} // namespace brindle
