#include "MetadataCore/ImageOptimizer.h"
#include "ImageOptimizerSteps.h"
#include "MetadataCore/ImageOptimizerError.h"
#include "TemporaryOutputName.h"

#include "MetadataCore/BundledToolLocation.h"
#include "MetadataCore/RequestPath.h"
#include "Platform/Attributes.h"
#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace brindle {

using namespace imageOptimization;

namespace {

using platform::ChildProcess;

constexpr std::chrono::milliseconds cancellationInterval{100};

// The encoder reads the input through the descriptor that was checked: a path could name
// another file by the time the encoder opens it.
std::vector<std::string> encoderArguments(const std::string& output) {
    const std::string input =
        "/dev/fd/" + std::to_string(platform::ChildProcessLaunch::firstPassedDescriptorNumber);
    return {"-quiet", "-lossless", "-z",        "6",   "-q",  "100", "-alpha_q",
            "100",    "-exact",    "-metadata", "all", input, "-o",  output};
}

bool cancellationRequested(const std::function<bool()>& isCancelled) {
    return isCancelled && isCancelled();
}

// The encoder writes the output by its path; an encoder gone wrong may leave a folder there,
// which goes with the temporary like a file.
platform::TemporaryOutput reservedOutput(const std::string& path) {
    auto reserved = platform::TemporaryOutput::reserve(
        path, [](const std::string& target) { return temporaryOutputName(target, "webp"); });
    if (!reserved)
        throw ImageOptimizerError::replacementFailed(reserved.error().value());
    return std::move(*reserved);
}

// Runs cwebp; nothing when it could not be started, otherwise whether it succeeded.
std::optional<bool> runEncoder(const std::string& encoder, platform::DescriptorRef input,
                               const std::string& output,
                               const std::function<bool()>& isCancelled) {
    platform::ChildProcessLaunch launch;
    launch.program = encoder;
    launch.arguments = encoderArguments(output);
    launch.passedDescriptors = {input};
    // The host's own standard streams are Chrome's message channel: the encoder gets none of them.
    launch.standardInput = platform::ChildStream::nullDevice();
    launch.standardOutput = platform::ChildStream::nullDevice();
    launch.standardError = platform::ChildStream::nullDevice();
    auto child = ChildProcess::spawn(launch);
    if (!child)
        return std::nullopt;
    for (;;) {
        if (cancellationRequested(isCancelled)) {
            child->terminate();
            throw ImageOptimizerError::cancelled();
        }
        if (const auto exit = child->waitForExit(cancellationInterval))
            return exit->succeeded();
    }
}

} // namespace

platform::OpenedFile imageOptimization::openValidatedTarget(const std::string& path) {
    if (!isUsableRequestPath(path))
        throw ImageOptimizerError::invalidPath();
    auto file = platform::openRegularFile(path);
    if (file)
        return std::move(*file);
    if (file.error().category() == std::generic_category())
        throw ImageOptimizerError::targetUnavailable(file.error().value());
    throw ImageOptimizerError::invalidPath();
}

ImageOptimizationResult ImageOptimizer::optimize(const std::string& path,
                                                 const std::function<bool()>& isCancelled) const {
    if (cancellationRequested(isCancelled))
        throw ImageOptimizerError::cancelled();
    const platform::OpenedFile opened = openValidatedTarget(path);
    const platform::FileDescriptor& input = opened.descriptor;
    const platform::FileStatus& openedStatus = opened.status;
    const std::int64_t originalBytes = openedStatus.size;
    // The caller goes on to tag the file at the path, which must then still be the one judged.
    const auto leftAlone = [&](std::string reason, std::int64_t outputBytes) {
        validateTargetIdentity(path, openedStatus);
        return ImageOptimizationResult{path, false, originalBytes, outputBytes, std::move(reason)};
    };

    switch (inputKind(input, originalBytes)) {
    case InputKind::lossySource:
        return leftAlone("lossy-source", originalBytes);
    case InputKind::unsupported:
        return leftAlone("unsupported-image", originalBytes);
    case InputKind::convertible:
        break;
    }
    const auto encoder = BundledToolLocation::executable("cwebp");
    if (!encoder)
        return leftAlone("encoder-missing", originalBytes);

    platform::TemporaryOutput temporary = reservedOutput(path);
    const auto encoded = runEncoder(*encoder, input, temporary.path(), isCancelled);
    if (!encoded)
        return leftAlone("conversion-unavailable", originalBytes);
    if (!*encoded)
        return leftAlone("unsupported-image", originalBytes);

    const std::int64_t outputBytes = validateWebPOutput(temporary.path());
    // Unless the output is known by its identity, nothing found at its name later is removed.
    if (!temporary.recordOutput())
        throw ImageOptimizerError::invalidPath();
    if (outputBytes >= originalBytes)
        return leftAlone("not-smaller", outputBytes);

    clearHiddenFlag(temporary.path());
    for (const std::string& name : platform::carriedAttributeNames(preservedAttributes))
        copyAttributeIfPresent(name, input, temporary.path());
    applyPermissions(temporary.path(), openedStatus);
    validateTargetIdentity(path, openedStatus);

    const bool keepsName = platform::lowercased(platform::pathExtension(path)) == "webp";
    std::string resultPath = path;
    if (keepsName)
        exchangeInPlace(temporary, openedStatus);
    else
        resultPath = exchangeAndRename(temporary, path, openedStatus);
    return {resultPath, true, originalBytes, outputBytes, "smaller"};
}

} // namespace brindle
