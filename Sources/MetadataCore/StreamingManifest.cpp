#include "MediaMaterializerSteps.h"
#include "MetadataCore/MediaMaterializer.h"
#include "MetadataCore/MediaMaterializerError.h"

#include "Platform/PathsAndText.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>

namespace brindle {

using namespace mediaMaterialization;

namespace {

using platform::URLComponents;

bool isWebScheme(const std::string& scheme) {
    return scheme == "http" || scheme == "https";
}

// `extensions` empty: any extension.
std::string validatedURL(const std::string& text,
                         std::initializer_list<std::string_view> extensions, bool dropsFragment,
                         const MediaMaterializerError& error) {
    std::optional<URLComponents> components = URLComponents::parse(text);
    if (!components || !isWebScheme(components->scheme()) || !components->hasHost())
        throw error;
    if (extensions.size() != 0) {
        const std::string extension =
            platform::lowercased(platform::pathExtension(components->path()));
        if (std::find(extensions.begin(), extensions.end(), extension) == extensions.end())
            throw error;
    }
    components->removeUserAndPassword();
    if (dropsFragment)
        components->removeFragment();
    std::optional<std::string> composed = components->string();
    if (!composed)
        throw error;
    return *composed;
}

std::string asciiUppercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : char(c); });
    return text;
}

// Width × height; 0 without a usable resolution, and for one whose product does not fit.
std::int64_t area(const std::map<std::string, std::string>& attributes) {
    const auto resolution = attributes.find("RESOLUTION");
    if (resolution == attributes.end() || resolution->second.empty())
        return 0;
    std::vector<std::int64_t> sides;
    const std::string text = platform::lowercased(resolution->second);
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('x', start), text.size());
        if (end > start)
            sides.push_back(
                decimalInteger(std::string_view(text).substr(start, end - start)).value_or(0));
        start = end + 1;
    }
    std::int64_t product = 0;
    if (sides.size() != 2 || __builtin_mul_overflow(sides[0], sides[1], &product))
        return 0;
    return product;
}

std::int64_t bitRate(const std::map<std::string, std::string>& attributes) {
    for (const char* key : {"AVERAGE-BANDWIDTH", "BANDWIDTH"}) {
        if (const auto value = attributes.find(key); value != attributes.end()) {
            if (const auto number = decimalInteger(value->second))
                return *number;
        }
    }
    return 0;
}

struct Variant {
    std::string url;
    std::int64_t area = 0;
    std::int64_t bitRate = 0;
    std::optional<std::string> audioGroup;
};

struct AudioRendition {
    std::string group;
    std::string url;
    bool isDefault = false;
};

std::optional<std::string> value(const std::map<std::string, std::string>& attributes,
                                 const char* key) {
    const auto found = attributes.find(key);
    return found == attributes.end() ? std::nullopt : std::optional(found->second);
}

std::optional<AudioRendition> audioRendition(std::string_view list, const std::string& base) {
    const auto attributes = hlsAttributes(list);
    const auto type = value(attributes, "TYPE");
    const auto group = value(attributes, "GROUP-ID");
    const auto uri = value(attributes, "URI");
    if (!type || asciiUppercased(*type) != "AUDIO" || !group || !uri)
        return std::nullopt;
    const auto url = webURL(*uri, base);
    if (!url)
        return std::nullopt;
    const auto isDefault = value(attributes, "DEFAULT");
    return AudioRendition{*group, *url, isDefault && asciiUppercased(*isDefault) == "YES"};
}

} // namespace

std::optional<std::int64_t> mediaMaterialization::decimalInteger(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-')
        text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::vector<std::string> mediaMaterialization::trimmedLines(std::string_view text) {
    // The line breaks of Unicode: LF, VT, FF, CR, NEL, LS and PS.
    const auto isLineBreak = [](char32_t scalar) {
        return (scalar >= U'\n' && scalar <= U'\r') || scalar == U'\u0085' || scalar == U'\u2028' ||
               scalar == U'\u2029';
    };
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t offset = 0; offset <= text.size();) {
        const platform::DecodedScalar scalar = offset < text.size()
                                                   ? platform::decodeScalar(text, offset)
                                                   : platform::DecodedScalar{U'\n', 1};
        if (isLineBreak(scalar.value)) {
            lines.push_back(platform::trimmingWhitespaceAndNewlines(
                text.substr(start, std::min(offset, text.size()) - start)));
            start = offset + scalar.length;
        }
        offset += scalar.length;
    }
    return lines;
}

std::string mediaMaterialization::validatedManifestURL(const std::string& text) {
    return validatedURL(text, {"m3u8", "mpd"}, false, MediaMaterializerError::invalidManifestURL());
}

std::string MediaMaterializer::validatedMediaTrackURL(const std::string& text) {
    return validatedURL(text, {"m4s", "m4a", "mp4"}, false,
                        MediaMaterializerError::invalidMediaTrackURL());
}

std::string MediaMaterializer::validatedReferrerURL(const std::string& text) {
    return validatedURL(text, {}, true, MediaMaterializerError::invalidMediaTrackURL());
}

std::optional<std::string> mediaMaterialization::webURL(std::string_view text,
                                                        const std::string& base) {
    const std::optional<URLComponents> baseComponents = URLComponents::parse(base);
    if (!baseComponents)
        return std::nullopt;
    const std::optional<URLComponents> resolved = baseComponents->resolving(text);
    if (!resolved || !isWebScheme(resolved->scheme()) || !resolved->hasHost())
        return std::nullopt;
    return resolved->string();
}

std::optional<platform::HTTPResponse>
mediaMaterialization::fetchHLSPlaylist(const std::string& url,
                                       const platform::HTTPFetchLimits& limits) {
    platform::Result<platform::HTTPResponse> response =
        platform::fetchHTTP(url,
                            {"Accept: application/vnd.apple.mpegurl, application/x-mpegURL, */*",
                             "User-Agent: Brindle/0.4"},
                            limits);
    if (!response || !platform::isValidUTF8(response->body))
        return std::nullopt;
    return std::move(*response);
}

std::map<std::string, std::string> mediaMaterialization::hlsAttributes(std::string_view list) {
    std::vector<std::string> tokens(1);
    bool quoted = false;
    for (const char c : list) {
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted)
            tokens.emplace_back();
        else
            tokens.back() += c;
    }
    std::map<std::string, std::string> attributes;
    for (const std::string& token : tokens) {
        const std::size_t equals = token.find('=');
        if (equals == std::string::npos)
            continue;
        std::string key = asciiUppercased(
            platform::trimmingWhitespaceAndNewlines(std::string_view(token).substr(0, equals)));
        std::string text =
            platform::trimmingWhitespaceAndNewlines(std::string_view(token).substr(equals + 1));
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
            text = text.substr(1, text.size() - 2);
        attributes[std::move(key)] = std::move(text);
    }
    return attributes;
}

HLSInputs MediaMaterializer::preferredHLSInputs(std::string_view playlist,
                                                const std::string& baseURL) {
    return variantInputs(playlist, baseURL).value_or(HLSInputs{baseURL, std::nullopt});
}

bool mediaMaterialization::leadBackTo(const HLSInputs& inputs, const std::string& masterURL) {
    // The fragment is never sent: an address that differs only there names the same playlist.
    const auto withoutFragment = [](const std::string& url) {
        std::optional<URLComponents> components = URLComponents::parse(url);
        if (components)
            components->removeFragment();
        return components ? components->string() : std::nullopt;
    };
    const auto master = withoutFragment(masterURL);
    return master && (withoutFragment(inputs.primaryURL) == master ||
                      (inputs.audioURL && withoutFragment(*inputs.audioURL) == master));
}

std::optional<HLSInputs> mediaMaterialization::variantInputs(std::string_view playlist,
                                                             const std::string& baseURL) {
    const std::vector<std::string> lines = trimmedLines(playlist);
    std::vector<Variant> variants;
    std::vector<AudioRendition> renditions;
    constexpr std::string_view mediaTag = "#EXT-X-MEDIA:";
    constexpr std::string_view streamTag = "#EXT-X-STREAM-INF:";
    for (auto line = lines.begin(); line != lines.end(); ++line) {
        if (line->starts_with(mediaTag)) {
            if (auto rendition = audioRendition(line->substr(mediaTag.size()), baseURL))
                renditions.push_back(std::move(*rendition));
        } else if (line->starts_with(streamTag)) {
            const auto uri = std::find_if(line + 1, lines.end(), [](const std::string& next) {
                return !next.empty() && next.front() != '#';
            });
            const auto url = uri == lines.end() ? std::nullopt : webURL(*uri, baseURL);
            if (!url)
                continue;
            const auto attributes = hlsAttributes(line->substr(streamTag.size()));
            variants.push_back(
                {*url, area(attributes), bitRate(attributes), value(attributes, "AUDIO")});
        }
    }
    if (variants.empty())
        return std::nullopt;

    const Variant* best = &variants.front();
    for (const Variant& variant : variants) {
        if (std::pair(variant.area, variant.bitRate) > std::pair(best->area, best->bitRate))
            best = &variant;
    }
    std::optional<std::string> audioURL;
    if (best->audioGroup) {
        std::erase_if(renditions, [&](const AudioRendition& rendition) {
            return rendition.group != *best->audioGroup;
        });
        std::stable_partition(renditions.begin(), renditions.end(),
                              [](const AudioRendition& rendition) { return rendition.isDefault; });
        if (!renditions.empty())
            audioURL = renditions.front().url;
    }
    return HLSInputs{best->url, audioURL};
}

} // namespace brindle
