#include "MetadataCore/MediaMaterializer.h"
#include "MediaMaterializerSteps.h"
#include "MediaTemporaryOutput.h"
#include "MetadataCore/MediaMaterializerError.h"

#include "MetadataCore/BundledToolLocation.h"
#include "MetadataCore/RequestPath.h"
#include "Platform/FileSystem.h"
#include "Platform/OpenedFile.h"
#include "Platform/Path.h"
#include "Platform/PathExtension.h"
#include "Platform/Text.h"
#include "Platform/URLComponents.h"

namespace brindle {

using namespace mediaMaterialization;

namespace {

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

void validateTargetIdentity(const std::string& path, const FileStatus& opened) {
    const auto status = platform::fileStatusAtPath(path);
    if (!status || !status->isOwnRegularFile() || status->identity != opened.identity)
        throw MediaMaterializerError::targetChanged();
}

std::string urlPathExtension(const std::string& url) {
    const auto components = platform::URLComponents::parse(url);
    return components ? platform::lowercased(platform::pathExtension(components->path())) : "";
}

std::vector<Stream> probeStreams(const std::string& ffprobe, const std::string& sourceURL,
                                 const Environment& proxy, const MediaToolLimits& limits) {
    const ToolRun run = runTool(ffprobe, ffprobeArguments(reconnectOptions(ffprobe), sourceURL),
                                true, proxy, limits);
    if (!run.exit.succeeded())
        throw MediaMaterializerError::probeFailed(failureDetail(run));
    return probedStreams(run.output, diagnostic(run.errorOutput));
}

void materializeSource(const MediaToolLimits& limits, const std::string& path,
                       const std::string& sourceURL,
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
        if (const auto playlist = fetchHLSPlaylist(sourceURL, limits.playlistFetch))
            inputs = MediaMaterializer::preferredHLSInputs(*playlist, sourceURL);
        sourceArguments = hlsArguments(inputs.primaryURL, inputs.audioURL, mediaKind);
    } else {
        const std::string ffprobe = platform::appendingPathComponent(
            platform::deletingLastPathComponent(*ffmpeg), "ffprobe");
        if (!platform::isExecutableFile(ffprobe))
            throw MediaMaterializerError::ffmpegMissing();
        const DASHStreams streams =
            bestDASHStreams(probeStreams(ffprobe, sourceURL, proxy, limits));
        if ((mediaKind == "video" && !streams.video) || (mediaKind == "audio" && !streams.audio))
            throw MediaMaterializerError::noMediaStream();
        sourceArguments = dashArguments(sourceURL, mediaKind, streams);
    }

    TemporaryOutput output(path, mediaKind == "audio" ? "m4a" : "mp4", placeholder.status);
    // FFmpeg writes the file it is given, wherever its folder goes meanwhile.
    const std::string outputArgument =
        "/dev/fd/" + std::to_string(platform::ChildProcessLaunch::firstPassedDescriptorNumber);
    const ToolRun run = runTool(
        *ffmpeg, ffmpegArguments(reconnectOptions(*ffmpeg), sourceArguments, outputArgument), false,
        proxy, limits, output.descriptor());
    if (!run.exit.succeeded())
        throw MediaMaterializerError::conversionFailed(failureDetail(run));
    output.validate();
    output.takeOverFrom(placeholder.descriptor.get());
    validateTargetIdentity(path, placeholder.status);
    output.exchange();
}

} // namespace

void MediaMaterializer::materialize(const std::string& path, const std::string& manifestURL,
                                    const std::string& mediaKind) const {
    materializeSource(limits, path, validatedManifestURL(manifestURL), std::nullopt, mediaKind,
                      true, std::nullopt);
}

void MediaMaterializer::materialize(const std::string& path, const std::string& mediaURL,
                                    const std::optional<std::string>& audioURL,
                                    const std::string& mediaKind,
                                    const std::optional<std::string>& referrerURL) const {
    const std::string media = validatedMediaTrackURL(mediaURL);
    const auto audio = audioURL ? std::optional(validatedMediaTrackURL(*audioURL)) : std::nullopt;
    const auto referrer =
        referrerURL ? std::optional(validatedReferrerURL(*referrerURL)) : std::nullopt;
    materializeSource(limits, path, media, audio, mediaKind, false, referrer);
}

} // namespace brindle
