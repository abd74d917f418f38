#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindle {

/// Finds the external programs the host runs (cwebp, ffmpeg, ffprobe). The shell's search path
/// is never consulted: only $BRINDLE_TOOLS_DIR (exclusively, when set), the tools folder of the
/// running program's bundle, and the user's data folder, in that order.
struct BundledToolLocation {
    static constexpr const char* toolsDirectoryVariable = "BRINDLE_TOOLS_DIR";

    static std::optional<std::string> executable(std::string_view name);

    /// The tool `name` directly inside `directory`, if it is executable. A name that would leave
    /// the directory ("../x", "a/b", "..") finds nothing.
    static std::optional<std::string> executable(std::string_view name, std::string_view directory);
};

} // namespace brindle
