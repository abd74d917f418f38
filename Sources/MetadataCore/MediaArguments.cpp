#include "MediaMaterializerSteps.h"
#include "MetadataCore/MediaMaterializerError.h"

#include "Platform/PathsAndText.h"

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

namespace brindle::mediaMaterialization {
namespace {

const std::string protocols = "https,http,httpproxy,tcp,tls,crypto";
const std::string userAgent =
    "Mozilla/5.0 (Macintosh; Intel Mac OS X) AppleWebKit/537.36 Chrome/138 Safari/537.36";
constexpr std::size_t diagnosticLines = 4;
constexpr std::size_t diagnosticCharacters = 600;

// A JSON integer, or a number without a fraction that fits one.
std::optional<std::int64_t> integer(const boost::json::value* value) {
    if (value == nullptr)
        return std::nullopt;
    if (value->is_int64())
        return value->get_int64();
    if (value->is_uint64() && value->get_uint64() <= INT64_MAX)
        return static_cast<std::int64_t>(value->get_uint64());
    if (value->is_double() && std::trunc(value->get_double()) == value->get_double() &&
        std::abs(value->get_double()) < 9.2e18)
        return static_cast<std::int64_t>(value->get_double());
    return std::nullopt;
}

std::int64_t area(const Stream& stream) {
    std::int64_t product = 0;
    return __builtin_mul_overflow(stream.width, stream.height, &product) ? 0 : product;
}

std::vector<std::string> streamMaps(const std::string& mediaKind, bool separateAudio) {
    if (mediaKind == "audio")
        return {"-map", separateAudio ? "1:a:0" : "0:a:0"};
    return {"-map", "0:v:0", "-map", separateAudio ? "1:a:0?" : "0:a:0?"};
}

// Options before "-i" apply to that input alone, and FFmpeg's own whitelist for an http input
// includes rtp and udp: a second input without these would follow an SDP body onto UDP ports. So
// every input names its protocols, which also keeps out the file:, data:, concat: or subfile:
// entries a playlist may hold, and carries the reconnect group.
void appendInput(std::vector<std::string>& arguments, const std::vector<std::string>& reconnect,
                 const std::string& url, const std::vector<std::string>& options = {}) {
    arguments.insert(arguments.end(), {"-protocol_whitelist", protocols});
    arguments.insert(arguments.end(), reconnect.begin(), reconnect.end());
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(), {"-i", url});
}

void appendTrack(std::vector<std::string>& arguments, const std::vector<std::string>& reconnect,
                 const std::string& url, const std::optional<std::string>& referrerURL) {
    std::vector<std::string> options = {"-user_agent", userAgent};
    if (referrerURL)
        options.insert(options.end(), {"-referer", *referrerURL});
    appendInput(arguments, reconnect, url, options);
}

bool startsWithWebScheme(std::string_view text) {
    const auto startsWith = [&](std::string_view scheme) {
        return text.size() >= scheme.size() &&
               std::equal(scheme.begin(), scheme.end(), text.begin(), [](char lower, char c) {
                   return lower == (c >= 'A' && c <= 'Z' ? char(c + 32) : c);
               });
    };
    return startsWith("http://") || startsWith("https://");
}

// FFmpeg names the part that speaks with its address in memory ("[hls @ 0x55d0c0ffee00]"), which
// tells the user nothing and differs from run to run.
std::string withoutObjectAddresses(std::string text) {
    for (std::size_t at = 0; (at = text.find(" @ 0x", at)) != std::string::npos;) {
        std::size_t end = at + 5;
        while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end])))
            ++end;
        if (end < text.size() && text[end] == ']')
            text.erase(at, end - at);
        else
            at = end;
    }
    return text;
}

std::int64_t decimalString(const boost::json::value* value) {
    return value != nullptr && value->is_string() ? decimalInteger(value->get_string()).value_or(0)
                                                  : 0;
}

// Every "http://" or "https://", in any case, and what follows it up to the next white space is
// replaced by "[media URL]": a query may hold quotes and brackets, and a token after them is
// still a token.
std::string withoutWebAddresses(std::string_view text) {
    std::string result;
    std::size_t offset = 0;
    for (std::size_t scheme = 0; scheme < text.size(); ++scheme) {
        if (!startsWithWebScheme(text.substr(scheme)))
            continue;
        std::size_t end = text.find("://", scheme) + 3;
        const std::size_t rest = end;
        while (end < text.size()) {
            const platform::DecodedScalar scalar = platform::decodeScalar(text, end);
            if (platform::isWhitespaceOrNewline(scalar.value))
                break;
            end += scalar.length;
        }
        if (end == rest)
            continue;
        result.append(text.substr(offset, scheme - offset)).append("[media URL]");
        offset = end;
        scheme = end - 1;
    }
    return result.append(text.substr(offset));
}

} // namespace

// FFmpeg's HLS and DASH demuxers skip a segment (or initialisation section) they cannot fetch,
// say so in a warning, and FFmpeg still exits 0 with a shorter file. These warnings are the one
// sign of it: the result's duration still runs to the stream's end when a later segment came
// (the timestamps jump over the hole), so durations measured against the playlists would miss a
// hole in the middle, and FFmpeg 5.1 has no option that makes a lost segment fatal ("-xerror"
// sees no demuxer error here, and would stop on harmless timestamp corrections).
const std::vector<std::string> lostSegmentWarnings = {"Failed to open segment",
                                                      "Failed to open fragment",
                                                      "Failed to open an initialization section"};

const std::vector<std::string> reconnectGroup = {"-reconnect",
                                                 "1",
                                                 "-reconnect_on_network_error",
                                                 "1",
                                                 "-reconnect_on_http_error",
                                                 "429,5xx",
                                                 "-reconnect_streamed",
                                                 "1",
                                                 "-reconnect_delay_max",
                                                 "3",
                                                 "-reconnect_max_retries",
                                                 "3",
                                                 "-reconnect_delay_total_max",
                                                 "10"};

std::vector<Stream> probedStreams(std::string_view output,
                                  const std::optional<std::string>& diagnostic) {
    const boost::json::value root = boost::json::parse(output);
    const boost::json::value* streams =
        root.is_object() ? root.get_object().if_contains("streams") : nullptr;
    if (streams == nullptr || !streams->is_array() ||
        !std::all_of(streams->get_array().begin(), streams->get_array().end(),
                     [](const boost::json::value& element) { return element.is_object(); }))
        throw MediaMaterializerError::probeFailed(
            diagnostic.value_or("FFprobe 返回的数据格式无效"));
    std::vector<Stream> result;
    for (const boost::json::value& element : streams->get_array()) {
        const boost::json::object& object = element.get_object();
        const auto index = integer(object.if_contains("index"));
        const boost::json::value* type = object.if_contains("codec_type");
        if (!index || type == nullptr || !type->is_string())
            continue;
        result.push_back({*index, std::string(type->get_string()),
                          integer(object.if_contains("width")).value_or(0),
                          integer(object.if_contains("height")).value_or(0),
                          decimalString(object.if_contains("bit_rate")),
                          decimalString(object.if_contains("nb_frames"))});
    }
    return result;
}

DASHStreams bestDASHStreams(const std::vector<Stream>& streams) {
    const Stream* video = nullptr;
    const Stream* audio = nullptr;
    for (const Stream& stream : streams) {
        if (stream.codecType == "video" &&
            (video == nullptr ||
             std::pair(area(stream), stream.bitRate) > std::pair(area(*video), video->bitRate)))
            video = &stream;
        if (stream.codecType == "audio" && (audio == nullptr || stream.bitRate > audio->bitRate))
            audio = &stream;
    }
    return {video ? std::optional(video->index) : std::nullopt,
            audio ? std::optional(audio->index) : std::nullopt};
}

std::vector<std::string> optionsListedIn(const std::vector<std::string>& group,
                                         std::string_view help) {
    std::set<std::string, std::less<>> listed;
    for (std::size_t start = 0; start < help.size();) {
        const std::size_t end = std::min(help.find('\n', start), help.size());
        const std::string_view line = help.substr(start, end - start);
        const std::size_t name = line.find_first_not_of(" \t");
        if (name != std::string_view::npos && line[name] == '-')
            listed.emplace(line.substr(name, line.find_first_of(" \t", name) - name));
        start = end + 1;
    }
    if (listed.empty())
        return group;
    std::vector<std::string> kept;
    for (std::size_t index = 0; index + 1 < group.size(); index += 2) {
        if (listed.contains(group[index]))
            kept.insert(kept.end(), {group[index], group[index + 1]});
    }
    return kept;
}

std::vector<std::string> ffprobeArguments(const std::vector<std::string>& reconnect,
                                          const std::string& manifestURL) {
    std::vector<std::string> arguments = {"-v", "error", "-protocol_whitelist", protocols};
    arguments.insert(arguments.end(), reconnect.begin(), reconnect.end());
    arguments.insert(arguments.end(),
                     {"-show_entries", "stream=index,codec_type,width,height,bit_rate", "-of",
                      "json", manifestURL});
    return arguments;
}

std::vector<std::string> resultProbeArguments(const std::string& path) {
    return {"-v",
            "error",
            "-protocol_whitelist",
            "file",
            "-f",
            "mp4",
            "-show_entries",
            "stream=index,codec_type,nb_frames",
            "-of",
            "json",
            path};
}

std::vector<std::string> ffmpegArguments(const std::vector<std::string>& sourceArguments,
                                         const std::string& outputPath) {
    // Warnings too: the one sign of a segment that could not be fetched is a warning.
    std::vector<std::string> arguments = {"-hide_banner", "-nostdin", "-loglevel", "warning", "-y"};
    arguments.insert(arguments.end(), sourceArguments.begin(), sourceArguments.end());
    // Always an MP4 container, also for audio: the copied streams go in as they are.
    arguments.insert(arguments.end(),
                     {"-c", "copy", "-movflags", "+faststart", "-f", "mp4", outputPath});
    return arguments;
}

std::vector<std::string> directTrackArguments(const std::vector<std::string>& reconnect,
                                              const std::string& mediaURL,
                                              const std::optional<std::string>& audioURL,
                                              const std::string& mediaKind,
                                              const std::optional<std::string>& referrerURL) {
    std::vector<std::string> arguments;
    appendTrack(arguments, reconnect, mediaURL, referrerURL);
    if (audioURL)
        appendTrack(arguments, reconnect, *audioURL, referrerURL);
    const auto maps = streamMaps(mediaKind, audioURL.has_value());
    arguments.insert(arguments.end(), maps.begin(), maps.end());
    return arguments;
}

std::vector<std::string> hlsArguments(const std::vector<std::string>& reconnect,
                                      const HLSInputs& inputs, const std::string& mediaKind) {
    std::vector<std::string> arguments;
    appendInput(arguments, reconnect, inputs.primaryURL);
    if (inputs.audioURL)
        appendInput(arguments, reconnect, *inputs.audioURL);
    const auto maps = streamMaps(mediaKind, inputs.audioURL.has_value());
    arguments.insert(arguments.end(), maps.begin(), maps.end());
    return arguments;
}

std::vector<std::string> dashArguments(const std::vector<std::string>& reconnect,
                                       const std::string& manifestURL, const std::string& mediaKind,
                                       const DASHStreams& streams) {
    std::vector<std::string> arguments;
    appendInput(arguments, reconnect, manifestURL);
    if (mediaKind == "video" && streams.video)
        arguments.insert(arguments.end(), {"-map", "0:" + std::to_string(*streams.video)});
    if (streams.audio)
        arguments.insert(arguments.end(), {"-map", "0:" + std::to_string(*streams.audio)});
    return arguments;
}

std::optional<std::string> diagnostic(std::string_view errorOutput) {
    // Undecodable bytes become U+FFFD, so that what follows works on text.
    std::string text;
    for (std::size_t offset = 0; offset < errorOutput.size();) {
        const platform::DecodedScalar scalar = platform::decodeScalar(errorOutput, offset);
        text += scalar.isUndecodable() ? std::string_view("\uFFFD")
                                       : errorOutput.substr(offset, scalar.length);
        offset += scalar.length;
    }
    std::vector<std::string> lines =
        trimmedLines(withoutObjectAddresses(withoutWebAddresses(text)));
    std::erase(lines, std::string());
    if (lines.empty())
        return std::nullopt;
    std::string joined;
    for (std::size_t index = lines.size() - std::min(lines.size(), diagnosticLines);
         index < lines.size(); ++index)
        joined += (joined.empty() ? "" : " | ") + lines[index];
    return platform::characterPrefix(joined, diagnosticCharacters);
}

Environment proxyEnvironment(std::string_view scheme, const boost::json::object& settings) {
    const bool secure = platform::lowercased(scheme) == "https";
    const auto prefixes =
        secure ? std::vector<std::string>{"HTTPS", "HTTP"} : std::vector<std::string>{"HTTP"};
    for (const std::string& prefix : prefixes) {
        const auto enabled = integer(settings.if_contains(prefix + "Enable"));
        const boost::json::value* host = settings.if_contains(prefix + "Proxy");
        const auto port = integer(settings.if_contains(prefix + "Port"));
        if (enabled != 1 || host == nullptr || !host->is_string() || host->get_string().empty() ||
            !port || *port < 1 || *port > 65535)
            continue;
        const std::string hostName(host->get_string());
        const std::string address = "http://" + hostName + ":" + std::to_string(*port);
        // A host that holds more than a host ("a/b", "user@a") does not compose an address.
        const auto composed = platform::URLComponents::parse(address);
        if (!composed || !composed->hasHost() ||
            platform::lowercased(composed->host()) != platform::lowercased(hostName))
            continue;
        return {{"http_proxy", address},
                {"HTTP_PROXY", address},
                {"https_proxy", address},
                {"HTTPS_PROXY", address}};
    }
    return {};
}

Environment proxyEnvironment(const std::string& sourceURL) {
    const auto components = platform::URLComponents::parse(sourceURL);
    return proxyEnvironment(components ? components->scheme() : "", boost::json::object());
}

} // namespace brindle::mediaMaterialization
