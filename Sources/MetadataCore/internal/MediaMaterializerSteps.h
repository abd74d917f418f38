#pragma once

// The steps of one materialisation, shared by the materialiser's own source files. Other callers
// use `MediaMaterializer`.

#include "MetadataCore/MediaMaterializer.h"
#include "Platform/DesktopServices.h"
#include "Platform/Processes.h"

#include <boost/json/object.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindle::mediaMaterialization {

using Environment = std::map<std::string, std::string>;

// Addresses and playlists.

/// An http or https manifest address with a host and the extension "m3u8" or "mpd", without
/// user name and password.
std::string validatedManifestURL(const std::string& text);

/// `text` read relative to `base`, when that gives an http or https address with a host.
std::optional<std::string> webURL(std::string_view text, const std::string& base);

/// The playlist at `url` as UTF-8 text, with the address it came from after redirects; nothing
/// on any failure.
std::optional<platform::HTTPResponse>
fetchHLSPlaylist(const std::string& url, const platform::HTTPFetchLimits& limits = {});

/// The best variant of a master playlist and its audio rendition, read relative to `baseURL`;
/// nothing for a playlist that offers no usable variant.
std::optional<HLSInputs> variantInputs(std::string_view playlist, const std::string& baseURL);

/// Whether `inputs`, chosen from the master playlist at `masterURL`, name that playlist itself.
bool leadBackTo(const HLSInputs& inputs, const std::string& masterURL);

/// A decimal integer with an optional sign and nothing else around it.
std::optional<std::int64_t> decimalInteger(std::string_view text);

/// `text` split at every line break (CR LF gives an empty line between), each line trimmed.
std::vector<std::string> trimmedLines(std::string_view text);

/// The attributes of an HLS tag ("KEY=value,KEY="quoted, value""): keys upper-cased, values
/// without their enclosing quotes; a later duplicate wins.
std::map<std::string, std::string> hlsAttributes(std::string_view list);

// FFmpeg and ffprobe command lines.

struct Stream {
    std::int64_t index = 0;
    std::string codecType;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t bitRate = 0;
    std::int64_t frames = 0; // as an MP4 file's index counts them
};

/// The streams of ffprobe's JSON; throws `probeFailed` (with `diagnostic`, or a fixed text) when
/// the JSON has another shape, and Boost's error when it is no JSON at all.
std::vector<Stream> probedStreams(std::string_view output,
                                  const std::optional<std::string>& diagnostic);

struct DASHStreams {
    std::optional<std::int64_t> video; // the largest picture, then the highest bit rate
    std::optional<std::int64_t> audio; // the highest bit rate
};
/// The best streams, the earliest among equals.
DASHStreams bestDASHStreams(const std::vector<Stream>& streams);

/// Every run of ffmpeg or ffprobe carries it, as far as the tool knows its options.
extern const std::vector<std::string> reconnectGroup;

/// `group` ("-option", value, ...) without the options that a tool's "-h protocol=http" listing
/// `help` lacks. A listing without any option tells nothing, and keeps the whole group.
std::vector<std::string> optionsListedIn(const std::vector<std::string>& group,
                                         std::string_view help);

/// Starts learning in the background which reconnect options `tool` knows, once per tool and
/// process, so that the answer is ready by the time the tool is run.
void prepareReconnectOptions(const std::string& tool);

/// The reconnect group as `tool` accepts it; waits for what `prepareReconnectOptions` learns.
std::vector<std::string> reconnectOptions(const std::string& tool);

/// Waits until learning about `tool`, if it was started, has ended.
void awaitReconnectOptions(const std::string& tool) noexcept;

std::vector<std::string> ffprobeArguments(const std::vector<std::string>& reconnect,
                                          const std::string& manifestURL);

/// ffprobe reading back the MP4 file at `path`, and nothing else.
std::vector<std::string> resultProbeArguments(const std::string& path);

/// Lines in FFmpeg's errors that tell of a segment skipped for want of its data.
extern const std::vector<std::string> lostSegmentWarnings;

/// Head, the inputs and maps of `sourceArguments`, then the output tail.
std::vector<std::string> ffmpegArguments(const std::vector<std::string>& sourceArguments,
                                         const std::string& outputPath);

// Each input carries the protocol whitelist and `reconnect` in front of its "-i".
std::vector<std::string> directTrackArguments(const std::vector<std::string>& reconnect,
                                              const std::string& mediaURL,
                                              const std::optional<std::string>& audioURL,
                                              const std::string& mediaKind,
                                              const std::optional<std::string>& referrerURL);
std::vector<std::string> hlsArguments(const std::vector<std::string>& reconnect,
                                      const HLSInputs& inputs, const std::string& mediaKind);
std::vector<std::string> dashArguments(const std::vector<std::string>& reconnect,
                                       const std::string& manifestURL, const std::string& mediaKind,
                                       const DASHStreams& streams);

/// The last lines of a tool's error output for the user, with every web address (and the tokens
/// in it) replaced by "[media URL]"; nothing when no line is left.
std::optional<std::string> diagnostic(std::string_view errorOutput);

/// The proxy variables for a source of `scheme` under the system proxy `settings` (keys such as
/// "HTTPSEnable", "HTTPSProxy", "HTTPSPort"); empty without a usable proxy.
Environment proxyEnvironment(std::string_view scheme, const boost::json::object& settings);

/// `proxyEnvironment` under this system's settings. Linux has no system-wide proxy settings to
/// read: the tools inherit the environment's http_proxy and https_proxy instead, so this is empty.
Environment proxyEnvironment(const std::string& sourceURL);

// Running a tool.

struct ToolRun {
    platform::ChildExit exit;
    std::string output;                     // standard output, when captured
    std::string errorOutput;                // the whole lines of the end of standard error
    std::optional<std::string> watchedLine; // the first line of standard error with a watched text
    /// Why the tool was ended or failed, when one of its limits did it, for the user.
    std::optional<std::string> limitReached;
};

/// Runs `executable` within `limits` and waits for it, with standard output and error collected
/// in private scratch files that are removed on every path. The open file `passedDescriptor`,
/// when given, is the tool's "/dev/fd/3". The tool leads a process group of its own, which goes
/// with it when it is ended, and dies with this process. Standard error is searched whole for
/// `watchedTexts`, however much of it is left out of `errorOutput`.
ToolRun runTool(const std::string& executable, const std::vector<std::string>& arguments,
                bool capturesOutput, const Environment& proxyEnvironment,
                const MediaToolLimits& limits = {},
                std::optional<platform::DescriptorRef> passedDescriptor = {},
                const std::vector<std::string>& watchedTexts = {});

/// What the user is told of a failed run: the limit it reached, or the end of its own errors.
std::optional<std::string> failureDetail(const ToolRun& run);

} // namespace brindle::mediaMaterialization
