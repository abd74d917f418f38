#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brindle::platform {

/// The descriptors of this program's standard input and output.
inline constexpr int standardInputDescriptor = 0;
inline constexpr int standardOutputDescriptor = 1;

/// Remembers the command line so that the program can find its own executable later.
void setProgramArguments(int argc, char** argv);

/// The running program's executable path: its first argument when that is absolute, otherwise
/// what the kernel reports for /proc/self/exe.
std::string executablePath();

/// The running program's executable as the kernel knows it (/proc/self/exe), whatever path or
/// link it was started through; "" when the kernel does not say.
std::string resolvedExecutablePath();

/// Lets the allocator keep freed blocks of up to 32 MiB for the next allocation instead of giving
/// them back to the system at once. For a program that handles one large message after another
/// this spares a page fault for every page of every message, at the cost of some resident memory.
void keepFreedMemoryForReuse();

/// An environment variable's value, or nothing when it is not set.
std::optional<std::string> environmentValue(const char* name);

/// A setting given through the environment: the variable's value, or nothing when it is not set
/// or empty (an empty value leaves the default in place).
std::optional<std::string> configuredValue(const char* name);

/// This program's environment as "NAME=value" entries, with `entries` added, each replacing an
/// inherited variable of the same name.
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& entries);

} // namespace brindle::platform
