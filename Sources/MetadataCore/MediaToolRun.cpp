#include "MediaMaterializerSteps.h"

#include "MetadataCore/DirectoryCreation.h"
#include "Platform/Files.h"
#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"

#include <algorithm>
#include <future>
#include <mutex>
#include <system_error>

namespace brindle::mediaMaterialization {
namespace {

using platform::ChildStream;

// Only the last lines of a tool's errors reach the user, so a tool that fails at length (one
// line per missing segment of a long stream) does not fill the host's memory.
constexpr std::size_t errorOutputTailBytes = 64 * 1024;
// A remembered answer is a few option names; anything this long is not one.
constexpr std::size_t rememberedAnswerLimit = 4096;

template <class Value> Value valueOrThrow(platform::Result<Value> result) {
    if (!result)
        throw std::system_error(result.error());
    return std::move(*result);
}

platform::ScratchFile captureFile() {
    return valueOrThrow(
        platform::ScratchFile::create(".brindle-" + platform::randomUUIDString() + ".log"));
}

// The answer of a tool, remembered per user under the tool file's identity: a tool that is
// replaced or changed (a new inode, size, modification or status-change time) is asked again.
std::optional<std::string> rememberedAnswerPath(const std::string& tool) {
    const auto cache = platform::cacheDirectory();
    const auto status = platform::fileStatusFollowingLinks(tool);
    if (!cache || !status)
        return std::nullopt;
    const auto number = [](auto value) { return std::to_string(value); };
    const std::string name = "reconnect-options-" + number(status->identity.device) + "-" +
                             number(status->identity.inode) + "-" + number(status->size) + "-" +
                             number(status->modificationTime.tv_sec) + "." +
                             number(status->modificationTime.tv_nsec) + "-" +
                             number(status->statusChangeTime.tv_sec) + "." +
                             number(status->statusChangeTime.tv_nsec);
    return platform::appendingPathComponent(platform::appendingPathComponent(*cache, "Brindle"),
                                            name);
}

std::optional<std::string> rememberedAnswer(const std::string& path) {
    const auto file = platform::openRegularFile(path);
    if (!file)
        return std::nullopt;
    auto contents = platform::readHead(file->descriptor, rememberedAnswerLimit);
    if (!contents || contents->size() == rememberedAnswerLimit)
        return std::nullopt;
    return std::move(*contents);
}

// Best effort: without it, the next host process only asks again.
void remember(const std::string& path, const std::vector<std::string>& options) {
    // "--" is in no group: it keeps an answer that names none of the group's options from reading
    // back as a tool that lists no options at all, which keeps the whole group.
    std::string names = "--\n";
    for (const std::string& option : options) {
        if (option.starts_with('-'))
            names += option + "\n";
    }
    try {
        createDirectoryWithIntermediates(platform::deletingLastPathComponent(path), 0700);
        [[maybe_unused]] const platform::Result<> written =
            platform::writeFileAtomically(path, names, 0600);
    } catch (const DirectoryCreationError&) {
    }
}

// FFmpeg 5.1 (Debian 12) stops at the first option of the group it does not know
// ("Unrecognized option 'reconnect_max_retries'"), so each tool is asked which it knows. Asking
// costs one start of the tool (about 60 to 140 ms here, more than the host's whole allowance over
// a remux), and Chrome starts a fresh host for every message, so the answer is remembered on disk
// for the next host. A first question is started early and in the background, while the playlist
// is fetched or the manifest probed; that thread starts the tool and waits for it, as a child dies
// with the thread that started it.
std::vector<std::string> learnReconnectOptions(const std::string& tool) {
    const std::optional<std::string> memory = rememberedAnswerPath(tool);
    if (memory) {
        if (const std::optional<std::string> names = rememberedAnswer(*memory))
            return optionsListedIn(reconnectGroup, *names);
    }
    try {
        const ToolRun help = runTool(tool, {"-hide_banner", "-h", "protocol=http"}, true, {});
        if (help.exit.succeeded()) {
            std::vector<std::string> options = optionsListedIn(reconnectGroup, help.output);
            if (memory)
                remember(*memory, options);
            return options;
        }
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
                bool capturesOutput, const Environment& proxyEnvironment,
                const MediaToolLimits& limits,
                std::optional<platform::DescriptorRef> passedDescriptor,
                const std::vector<std::string>& watchedTexts) {
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
    if (passedDescriptor)
        launch.passedDescriptors = {*passedDescriptor};
    if (!proxyEnvironment.empty())
        launch.environment = platform::environmentWith(proxyEnvironment);
    launch.memoryLimitBytes = limits.memoryLimitBytes;
    launch.ownProcessGroup = true;

    auto child = valueOrThrow(platform::ChildProcess::spawn(launch));
    const platform::WatchedExit watched = platform::waitWhileActive(child, limits.stallLimit);
    ToolRun run;
    run.exit = watched.exit;
    if (output)
        run.output = valueOrThrow(output->contents());
    run.errorOutput = valueOrThrow(errors.lastLines(errorOutputTailBytes));
    if (!watchedTexts.empty())
        run.watchedLine = valueOrThrow(errors.firstLineContaining(watchedTexts));
    // A tool that fails having held half its allowance ran into it: the kernel refused an
    // allocation, and the tool only says it has no memory. A remux stays under a tenth of it.
    const std::uint64_t peakBytes = std::uint64_t(std::max(run.exit.peakResidentKiB, 0L)) * 1024;
    if (watched.stalled)
        run.limitReached = "长时间没有收到或写出任何数据，已停止";
    else if (!run.exit.succeeded() && peakBytes >= limits.memoryLimitBytes / 2)
        run.limitReached =
            "占用内存超过 " + std::to_string(limits.memoryLimitBytes >> 20) + " MiB 的上限，已停止";
    return run;
}

std::optional<std::string> failureDetail(const ToolRun& run) {
    return run.limitReached ? run.limitReached : diagnostic(run.errorOutput);
}

} // namespace brindle::mediaMaterialization
