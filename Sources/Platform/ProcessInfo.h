#pragma once

#include <optional>
#include <string>

namespace brindle::platform {

/// Remembers the command line so that the program can find its own executable later.
void setProgramArguments(int argc, char** argv);

/// The running program's executable path: its first argument when that is absolute, otherwise
/// what the kernel reports for /proc/self/exe.
std::string executablePath();

/// An environment variable's value, or nothing when it is not set.
std::optional<std::string> environmentValue(const char* name);

} // namespace brindle::platform
