#include "Platform/Processes.h"

#include <climits>
#include <cstdlib>
#include <malloc.h>
#include <unistd.h>

extern char** environ;

namespace brindle::platform {

namespace {
std::string firstArgument;
}

void setProgramArguments(int argc, char** argv) {
    firstArgument = argc > 0 && argv[0] != nullptr ? argv[0] : "";
}

std::string executablePath() {
    if (!firstArgument.empty() && firstArgument.front() == '/')
        return firstArgument;
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0)
        return firstArgument;
    return std::string(buffer, static_cast<size_t>(length));
}

std::string resolvedExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0)
        return {};
    return std::string(buffer, static_cast<size_t>(length));
}

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

std::optional<std::string> configuredValue(const char* name) {
    auto value = environmentValue(name);
    if (!value || value->empty())
        return std::nullopt;
    return value;
}

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& entries) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        if (!entries.contains(std::string(text.substr(0, text.find('=')))))
            result.emplace_back(text);
    }
    for (const auto& [name, value] : entries)
        result.push_back(name + "=" + value);
    return result;
}

void keepFreedMemoryForReuse() {
    constexpr int largestReusedBlock = 32 << 20;
    mallopt(M_MMAP_THRESHOLD, largestReusedBlock);
    mallopt(M_TRIM_THRESHOLD, 2 * largestReusedBlock);
}

} // namespace brindle::platform
