#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindle {

/// Finds the external programs the host runs (cwebp, ffmpeg, ffprobe). The shell's search path
/// is never consulted: only $BRINDLE_TOOLS_DIR (exclusively, when set), the running program's
/// bundle's own tools, and the user's data folder, in that order.
struct BundledToolLocation {
    static constexpr const char* toolsDirectoryVariable = "BRINDLE_TOOLS_DIR";
    /// Where Debian's own packages put the tools.
    static constexpr const char* systemToolsDirectory = "/usr/bin";

    static std::optional<std::string> executable(std::string_view name);

    /// The folder whose tools the bundle at `bundle` runs: its own "Contents/Resources/Tools", or,
    /// for a bundle without one (the package's, which depends on Debian's tools instead of
    /// carrying copies), the system's.
    static std::string bundleToolsDirectory(std::string_view bundle);

    /// The tool `name` directly inside `directory`, if it is executable. A name that would leave
    /// the directory ("../x", "a/b", "..") finds nothing.
    static std::optional<std::string> executable(std::string_view name, std::string_view directory);
};

} // namespace brindle
