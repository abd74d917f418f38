#include "MetadataCore/BundledToolLocation.h"

#include "Platform/ProcessInfo.h"
#include "Support/TemporaryDirectory.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace brindle {
namespace {

using testing::TemporaryDirectory;
using testing::writeFile;

// A program inside X.app/Contents/MacOS, a user data folder, and a tools override folder, each
// able to hold a tool.
class ToolLocation : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(macOS());
        std::filesystem::create_directories(bundleTools());
        std::filesystem::create_directories(userTools());
        std::filesystem::create_directories(overrideTools());
        programPath = macOS() + "/brindle-host";
        char* argv[] = {programPath.data(), nullptr};
        platform::setProgramArguments(1, argv);
        setenv("XDG_DATA_HOME", (root.path() + "/data").c_str(), 1);
        unsetenv(BundledToolLocation::toolsDirectoryVariable);
    }

    void TearDown() override {
        unsetenv(BundledToolLocation::toolsDirectoryVariable);
        unsetenv("XDG_DATA_HOME");
    }

    std::string macOS() const { return root.path() + "/X.app/Contents/MacOS"; }
    std::string bundleTools() const { return root.path() + "/X.app/Contents/Resources/Tools"; }
    std::string userTools() const { return root.path() + "/data/Brindle/Tools/current"; }
    std::string overrideTools() const { return root.path() + "/override"; }

    static std::string install(const std::string& directory, unsigned mode = 0755) {
        const std::string path = directory + "/cwebp";
        writeFile(path, "#!/bin/sh\n", mode);
        return path;
    }

    TemporaryDirectory root;
    std::string programPath;
};

TEST_F(ToolLocation, OverrideAloneElseBundleElseDataFolderAndOnlyExecutables) {
    const auto found = [] { return BundledToolLocation::executable("cwebp"); };
    install(bundleTools(), 0644);
    EXPECT_EQ(found(), std::nullopt);
    const std::string user = install(userTools());
    EXPECT_EQ(found(), user);
    const std::string bundled = install(bundleTools());
    EXPECT_EQ(found(), bundled);
    setenv(BundledToolLocation::toolsDirectoryVariable, "", 1); // an empty override is ignored
    EXPECT_EQ(found(), bundled);
    // Under the override nothing else is tried.
    setenv(BundledToolLocation::toolsDirectoryVariable, overrideTools().c_str(), 1);
    EXPECT_EQ(found(), std::nullopt);
    install(overrideTools(), 0644);
    EXPECT_EQ(found(), std::nullopt);
    const std::string overridden = install(overrideTools());
    EXPECT_EQ(found(), overridden);
}

TEST_F(ToolLocation, LinksToExecutablesAreFollowedButFoldersAreNotTools) {
    std::filesystem::create_directories(bundleTools() + "/cwebp");
    EXPECT_EQ(BundledToolLocation::executable("cwebp"), std::nullopt);
    std::filesystem::remove(bundleTools() + "/cwebp");
    std::filesystem::create_symlink(install(overrideTools()), bundleTools() + "/cwebp");
    EXPECT_EQ(BundledToolLocation::executable("cwebp"), bundleTools() + "/cwebp");
}

TEST_F(ToolLocation, NamesThatLeaveTheFolderFindNothing) {
    install(bundleTools());
    // A tool one level up from the tools folder must not be reachable through "..".
    install(root.path() + "/X.app/Contents/Resources");
    for (const char* name : {"../cwebp", "./../cwebp", "..", ".", "", "sub/../../cwebp"})
        EXPECT_EQ(BundledToolLocation::executable(name, bundleTools()), std::nullopt) << name;
    // Names that stay inside the folder once resolved are still the tool itself.
    for (const char* name : {"./cwebp", "../Tools/cwebp"})
        EXPECT_EQ(BundledToolLocation::executable(name, bundleTools()), bundleTools() + "/cwebp");
    setenv(BundledToolLocation::toolsDirectoryVariable, bundleTools().c_str(), 1);
    EXPECT_EQ(BundledToolLocation::executable("../cwebp"), std::nullopt);
}

} // namespace
} // namespace brindle
