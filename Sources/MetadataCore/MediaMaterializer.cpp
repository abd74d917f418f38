#include "MetadataCore/MediaMaterializer.h"
#include "MediaMaterializerSteps.h"
#include "MetadataCore/MediaMaterializerError.h"
#include "TemporaryOutputName.h"

#include "MetadataCore/BundledToolLocation.h"
#include "MetadataCore/RequestPath.h"
#include "Platform/AttributeCopy.h"
#include "Platform/FileReplacement.h"
#include "Platform/FileSystem.h"
#include "Platform/OpenedFile.h"
#include "Platform/Path.h"
#include "Platform/PathExtension.h"
#include "Platform/RandomUUID.h"
#include "Platform/Text.h"
#include "Platform/URLComponents.h"

#include <cstdio>

namespace brindle {

using namespace mediaMaterialization;

namespace {

using platform::FileIdentity;
using platform::FileStatus;

platform::OpenedFile openValidatedTarget(const std::string& path) {
    if (!isUsableRequestPath(path))
        throw MediaMaterializerError::invalidPath();
    platform::Result<platform::OpenedFile> opened = platform::openRegularFile(path);
    if (!opened)
        throw MediaMaterializerError::invalidPath();
    return std::move(*opened);
}

// A call does not return while the tool is still being asked about its options in the
// background: nothing it started outlives it.
class OptionQueryWait {
public:
    explicit OptionQueryWait(const std::string& tool) : tool_(tool) {}
    OptionQueryWait(const OptionQueryWait&) = delete;
    OptionQueryWait& operator=(const OptionQueryWait&) = delete;
    ~OptionQueryWait() { awaitReconnectOptions(tool_); }

private:
    const std::string& tool_;
};

// Removes the temporary output on every exit. Once a swap has been tried the path may hold
// another program's file (one that replaced the placeholder, if swapping back failed): then only
// FFmpeg's output or the displaced placeholder is removed.
class TemporaryOutput {
public:
    TemporaryOutput(std::string path, FileIdentity placeholder)
        : path_(std::move(path)), placeholder_(placeholder) {}
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;
    ~TemporaryOutput() {
        const auto status = platform::fileStatusAtPath(path_);
        if (!output_ ||
            (status && (status->identity == *output_ || status->identity == placeholder_)))
            std::remove(path_.c_str());
    }

    const std::string& path() const { return path_; }

    // FFmpeg's output must be a non-empty regular file of this user.
    void validate() {
        const auto status = platform::fileStatusAtPath(path_);
        if (!status || !status->isOwnRegularFile() || status->size <= 0)
            throw MediaMaterializerError::conversionFailed();
        output_ = status->identity;
    }

private:
    std::string path_;
    FileIdentity placeholder_;
    std::optional<FileIdentity> output_;
};

void validateTargetIdentity(const std::string& path, const FileStatus& opened) {
    const auto status = platform::fileStatusAtPath(path);
    if (!status || !status->isOwnRegularFile() || status->identity != opened.identity)
        throw MediaMaterializerError::targetChanged();
}

void exchangeOutput(const std::string& temporaryPath, const std::string& targetPath,
                    const FileStatus& opened) {
    if (const platform::Result<> swapped = platform::exchangePaths(temporaryPath, targetPath);
        !swapped)
        throw MediaMaterializerError::replacementFailed(swapped.error().value());
    const auto displaced = platform::fileStatusAtPath(temporaryPath);
    if (!displaced || displaced->identity != opened.identity) {
        [[maybe_unused]] const platform::Result<> swappedBack =
            platform::exchangePaths(temporaryPath, targetPath);
        throw MediaMaterializerError::targetChanged();
    }
}

std::string urlPathExtension(const std::string& url) {
    const auto components = platform::URLComponents::parse(url);
    return components ? platform::lowercased(platform::pathExtension(components->path())) : "";
}

std::vector<Stream> probeStreams(const std::string& ffprobe, const std::string& sourceURL,
                                 const Environment& proxy) {
    const ToolRun run =
        runTool(ffprobe, ffprobeArguments(reconnectOptions(ffprobe), sourceURL), true, proxy);
    if (!run.exit.succeeded())
        throw MediaMaterializerError::probeFailed(diagnostic(run.errorOutput));
    return probedStreams(run.output, diagnostic(run.errorOutput));
}

void materializeSource(const std::string& path, const std::string& sourceURL,
                       const std::optional<std::string>& directAudioURL,
                       const std::string& mediaKind, bool sourceIsManifest,
                       const std::optional<std::string>& referrerURL) {
    if (mediaKind != "video" && mediaKind != "audio")
        throw MediaMaterializerError::invalidMediaKind();
    const platform::OpenedFile placeholder = openValidatedTarget(path);
    const std::optional<std::string> ffmpeg = BundledToolLocation::executable("ffmpeg");
    if (!ffmpeg)
        throw MediaMaterializerError::ffmpegMissing();
    prepareReconnectOptions(*ffmpeg);
    const OptionQueryWait queryWait(*ffmpeg);
    const Environment proxy = proxyEnvironment(sourceURL);

    std::vector<std::string> sourceArguments;
    if (!sourceIsManifest) {
        sourceArguments = directTrackArguments(sourceURL, directAudioURL, mediaKind, referrerURL);
    } else if (urlPathExtension(sourceURL) == "m3u8") {
        HLSInputs inputs{sourceURL, std::nullopt};
        // A playlist that cannot be fetched here is left to FFmpeg, which reports its own error.
        if (const auto playlist = fetchHLSPlaylist(sourceURL))
            inputs = MediaMaterializer::preferredHLSInputs(*playlist, sourceURL);
        sourceArguments = hlsArguments(inputs.primaryURL, inputs.audioURL, mediaKind);
    } else {
        const std::string ffprobe = platform::appendingPathComponent(
            platform::deletingLastPathComponent(*ffmpeg), "ffprobe");
        if (!platform::isExecutableFile(ffprobe))
            throw MediaMaterializerError::ffmpegMissing();
        const DASHStreams streams = bestDASHStreams(probeStreams(ffprobe, sourceURL, proxy));
        if ((mediaKind == "video" && !streams.video) || (mediaKind == "audio" && !streams.audio))
            throw MediaMaterializerError::noMediaStream();
        sourceArguments = dashArguments(sourceURL, mediaKind, streams);
    }

    TemporaryOutput output(temporaryOutputPath(path, mediaKind == "audio" ? "m4a" : "mp4"),
                           placeholder.status.identity);
    const ToolRun run =
        runTool(*ffmpeg, ffmpegArguments(reconnectOptions(*ffmpeg), sourceArguments, output.path()),
                false, proxy);
    if (!run.exit.succeeded())
        throw MediaMaterializerError::conversionFailed(diagnostic(run.errorOutput));
    output.validate();
    for (const std::string& name :
         platform::carriedAttributeNames(MediaMaterializer::preservedAttributes)) {
        if (!platform::copyAttribute(name, placeholder.descriptor.get(), output.path()))
            throw MediaMaterializerError::invalidPath();
    }
    validateTargetIdentity(path, placeholder.status);
    exchangeOutput(output.path(), path, placeholder.status);
}

} // namespace

void MediaMaterializer::materialize(const std::string& path, const std::string& manifestURL,
                                    const std::string& mediaKind) const {
    materializeSource(path, validatedManifestURL(manifestURL), std::nullopt, mediaKind, true,
                      std::nullopt);
}

void MediaMaterializer::materialize(const std::string& path, const std::string& mediaURL,
                                    const std::optional<std::string>& audioURL,
                                    const std::string& mediaKind,
                                    const std::optional<std::string>& referrerURL) const {
    const std::string media = validatedMediaTrackURL(mediaURL);
    const auto audio = audioURL ? std::optional(validatedMediaTrackURL(*audioURL)) : std::nullopt;
    const auto referrer =
        referrerURL ? std::optional(validatedReferrerURL(*referrerURL)) : std::nullopt;
    materializeSource(path, media, audio, mediaKind, false, referrer);
}

} // namespace brindle
