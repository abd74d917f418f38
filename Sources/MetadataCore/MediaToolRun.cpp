#include "MediaMaterializerSteps.h"

#include "Platform/ProcessInfo.h"
#include "Platform/RandomUUID.h"
#include "Platform/ScratchFile.h"

#include <future>
#include <mutex>
#include <system_error>

namespace brindle::mediaMaterialization {
namespace {

using platform::ChildStream;

// Only the last lines of a tool's errors reach the user, so a tool that fails at length (one
// line per missing segment of a long stream) does not fill the host's memory.
constexpr std::size_t errorOutputTailBytes = 64 * 1024;

template <class Value> Value valueOrThrow(platform::Result<Value> result) {
    if (!result)
        throw std::system_error(result.error());
    return std::move(*result);
}

platform::ScratchFile captureFile() {
    return valueOrThrow(
        platform::ScratchFile::create(".brindle-" + platform::randomUUIDString() + ".log"));
}

// FFmpeg 5.1 (Debian 12) stops at the first option of the group it does not know
// ("Unrecognized option 'reconnect_max_retries'"), so each tool is asked which it knows. Asking
// costs one start of the tool, about as long as a short remux; it is started early and in the
// background, while the playlist is fetched or the manifest probed.
std::vector<std::string> learnReconnectOptions(const std::string& tool) {
    try {
        const ToolRun help = runTool(tool, {"-hide_banner", "-h", "protocol=http"}, true, {});
        if (help.exit.succeeded())
            return optionsListedIn(reconnectGroup, help.output);
    } catch (const std::exception&) {
        // A tool that cannot be asked is run with the whole group, and fails or not on its own.
    }
    return reconnectGroup;
}

std::mutex learnedMutex;
std::map<std::string, std::shared_future<std::vector<std::string>>> learned;

} // namespace

void prepareReconnectOptions(const std::string& tool) {
    const std::lock_guard lock(learnedMutex);
    if (!learned.contains(tool))
        learned.emplace(tool, std::async(std::launch::async, learnReconnectOptions, tool).share());
}

std::vector<std::string> reconnectOptions(const std::string& tool) {
    prepareReconnectOptions(tool);
    std::shared_future<std::vector<std::string>> answer;
    {
        const std::lock_guard lock(learnedMutex);
        answer = learned.at(tool);
    }
    return answer.get();
}

void awaitReconnectOptions(const std::string& tool) noexcept {
    std::shared_future<std::vector<std::string>> answer;
    {
        const std::lock_guard lock(learnedMutex);
        if (const auto found = learned.find(tool); found != learned.end())
            answer = found->second;
    }
    if (answer.valid())
        answer.wait();
}

ToolRun runTool(const std::string& executable, const std::vector<std::string>& arguments,
                bool capturesOutput, const Environment& proxyEnvironment) {
    std::optional<platform::ScratchFile> output;
    if (capturesOutput)
        output.emplace(captureFile());
    const platform::ScratchFile errors = captureFile();

    platform::ChildProcessLaunch launch;
    launch.program = executable;
    launch.arguments = arguments;
    // The host's own standard streams are Chrome's message channel: a tool gets none of them.
    launch.standardInput = ChildStream::nullDevice();
    launch.standardOutput =
        output ? ChildStream::descriptor(output->descriptor()) : ChildStream::nullDevice();
    launch.standardError = ChildStream::descriptor(errors.descriptor());
    if (!proxyEnvironment.empty())
        launch.environment = platform::environmentWith(proxyEnvironment);

    auto child = valueOrThrow(platform::ChildProcess::spawn(launch));
    ToolRun run;
    run.exit = child.waitForExit();
    if (output)
        run.output = valueOrThrow(output->contents());
    run.errorOutput = valueOrThrow(errors.lastLines(errorOutputTailBytes));
    return run;
}

} // namespace brindle::mediaMaterialization
