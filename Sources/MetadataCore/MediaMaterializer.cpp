#include "MetadataCore/MediaMaterializer.h"
#include "MediaMaterializerSteps.h"
#include "MediaTemporaryOutput.h"
#include "MetadataCore/MediaMaterializerError.h"

#include "MetadataCore/BundledToolLocation.h"
#include "MetadataCore/RequestPath.h"
#include "Platform/Files.h"
#include "Platform/PathsAndText.h"

#include <algorithm>

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

std::vector<std::string> hlsSourceArguments(const std::string& ffmpeg, const std::string& sourceURL,
                                            const std::string& mediaKind,
                                            const platform::HTTPFetchLimits& fetchLimits) {
    HLSInputs inputs{sourceURL, std::nullopt};
    // A playlist that cannot be fetched here is left to FFmpeg, which reports its own error.
    // Addresses in it are relative to where the fetch ended: a CDN answers a master with a
    // redirect into another folder.
    if (const auto playlist = fetchHLSPlaylist(sourceURL, fetchLimits)) {
        if (const auto chosen = variantInputs(playlist->body, playlist->finalURL)) {
            // FFmpeg would read the master again as its own variant, growing without end.
            if (leadBackTo(*chosen, sourceURL) || leadBackTo(*chosen, playlist->finalURL))
                throw MediaMaterializerError::noMediaStream();
            inputs = *chosen;
        }
    }
    return hlsArguments(reconnectOptions(ffmpeg), inputs, mediaKind);
}

std::optional<std::string> joined(const std::string& summary,
                                  const std::optional<std::string>& detail) {
    return detail ? summary + " | " + *detail : summary;
}

// FFmpeg exits 0 also when the disk filled before it wrote the index, or when it could read no
// samples (an MP4 track whose index follows its samples, served without byte ranges): its result
// must read back as an MP4 file holding samples of the requested kind.
void verifyResult(const std::string& ffprobe, const TemporaryOutput& output,
                  const std::string& targetPath, const std::string& mediaKind,
                  const MediaToolLimits& limits) {
    const std::string passed =
        "/dev/fd/" + std::to_string(platform::ChildProcessLaunch::firstPassedDescriptorNumber);
    ToolRun run =
        runTool(ffprobe, resultProbeArguments(passed), true, {}, limits, output.descriptor());
    std::vector<Stream> streams;
    try {
        if (!run.exit.succeeded())
            throw MediaMaterializerError::conversionFailed();
        streams = probedStreams(run.output, std::nullopt);
    } catch (const std::exception&) {
        // The user knows the file by the placeholder's name, not by the name it is read under.
        const std::string name = platform::lastPathComponent(targetPath);
        for (std::size_t at = 0; (at = run.errorOutput.find(passed, at)) != std::string::npos;
             at += name.size())
            run.errorOutput.replace(at, passed.size(), name);
        throw MediaMaterializerError::conversionFailed(
            joined("合并结果无法读取", diagnostic(run.errorOutput)));
    }
    if (std::none_of(streams.begin(), streams.end(), [&](const Stream& stream) {
            return stream.codecType == mediaKind && stream.frames > 0;
        }))
        throw MediaMaterializerError::conversionFailed(mediaKind == "audio" ? "合并结果中没有音频"
                                                                            : "合并结果中没有视频");
}

void requireMediaKind(const std::string& mediaKind) {
    if (mediaKind != "video" && mediaKind != "audio")
        throw MediaMaterializerError::invalidMediaKind();
}

void materializeSource(const MediaToolLimits& limits, const std::string& path,
                       const std::string& sourceURL,
                       const std::optional<std::string>& directAudioURL,
                       const std::string& mediaKind, bool sourceIsManifest,
                       const std::optional<std::string>& referrerURL) {
    const platform::OpenedFile placeholder = openValidatedTarget(path);
    const std::optional<std::string> ffmpeg = BundledToolLocation::executable("ffmpeg");
    if (!ffmpeg)
        throw MediaMaterializerError::ffmpegMissing();
    prepareReconnectOptions(*ffmpeg);
    const OptionQueryWait queryWait(*ffmpeg);
    const std::string ffprobe =
        platform::appendingPathComponent(platform::deletingLastPathComponent(*ffmpeg), "ffprobe");
    if (!platform::isExecutableFile(ffprobe))
        throw MediaMaterializerError::ffmpegMissing();
    const Environment proxy = proxyEnvironment(sourceURL);

    std::vector<std::string> sourceArguments;
    if (!sourceIsManifest) {
        sourceArguments = directTrackArguments(reconnectOptions(*ffmpeg), sourceURL, directAudioURL,
                                               mediaKind, referrerURL);
    } else if (urlPathExtension(sourceURL) == "m3u8") {
        sourceArguments = hlsSourceArguments(*ffmpeg, sourceURL, mediaKind, limits.playlistFetch);
    } else {
        const DASHStreams streams =
            bestDASHStreams(probeStreams(ffprobe, sourceURL, proxy, limits));
        if ((mediaKind == "video" && !streams.video) || (mediaKind == "audio" && !streams.audio))
            throw MediaMaterializerError::noMediaStream();
        sourceArguments = dashArguments(reconnectOptions(*ffmpeg), sourceURL, mediaKind, streams);
    }

    TemporaryOutput output(path, mediaKind == "audio" ? "m4a" : "mp4", placeholder.status);
    // FFmpeg writes the file it is given, wherever its folder goes meanwhile.
    const std::string outputArgument =
        "/dev/fd/" + std::to_string(platform::ChildProcessLaunch::firstPassedDescriptorNumber);
    const ToolRun run = runTool(*ffmpeg, ffmpegArguments(sourceArguments, outputArgument), false,
                                proxy, limits, output.descriptor(), lostSegmentWarnings);
    if (!run.exit.succeeded())
        throw MediaMaterializerError::conversionFailed(failureDetail(run));
    output.validate();
    if (run.watchedLine)
        throw MediaMaterializerError::conversionFailed(
            joined("有分片无法下载", diagnostic(*run.watchedLine)));
    verifyResult(ffprobe, output, path, mediaKind, limits);
    output.takeOverFrom(placeholder.descriptor);
    validateTargetIdentity(path, placeholder.status);
    output.exchange();
}

// Before any address is judged: with the URL library missing, every address would read as
// unusable, which is not why the job failed (descriptors that ran out, say), and asking again may
// help.
void requireAddressParser() {
    if (const auto failure = platform::URLComponents::parserLoadFailure())
        throw MediaMaterializerError::urlParserUnavailable(*failure);
}

} // namespace

void MediaMaterializer::materialize(const std::string& path, const std::string& manifestURL,
                                    const std::string& mediaKind) const {
    requireMediaKind(mediaKind);
    requireAddressParser();
    materializeSource(limits, path, validatedManifestURL(manifestURL), std::nullopt, mediaKind,
                      true, std::nullopt);
}

void MediaMaterializer::materialize(const std::string& path, const std::string& mediaURL,
                                    const std::optional<std::string>& audioURL,
                                    const std::string& mediaKind,
                                    const std::optional<std::string>& referrerURL) const {
    requireMediaKind(mediaKind);
    requireAddressParser();
    const std::string media = validatedMediaTrackURL(mediaURL);
    const auto audio = audioURL ? std::optional(validatedMediaTrackURL(*audioURL)) : std::nullopt;
    const auto referrer =
        referrerURL ? std::optional(validatedReferrerURL(*referrerURL)) : std::nullopt;
    materializeSource(limits, path, media, audio, mediaKind, false, referrer);
}

} // namespace brindle
