#pragma once

#include "Platform/DesktopServices.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

/// What FFmpeg reads for an HLS stream.
struct HLSInputs {
    /// The chosen variant playlist, or the manifest itself.
    std::string primaryURL;
    /// A separate audio rendition playlist, read as a second input; absent when the variant
    /// carries its own audio or the playlist offers no matching rendition.
    std::optional<std::string> audioURL;

    bool operator==(const HLSInputs&) const = default;
};

/// What the tools run for one materialisation may take.
struct MediaToolLimits {
    /// A tool that receives, reads and writes nothing for this long is ended: FFmpeg waits for
    /// ever on a connection that stays open without data, and FFmpeg 5.1 reconnects without end.
    std::chrono::milliseconds stallLimit{std::chrono::seconds(60)};
    /// The private memory (heap, stacks, writable data) a tool may allocate. A two-input HLS
    /// remux by FFmpeg 5.1 needs about 80 MiB of it, nearly half for its libraries' data and
    /// its threads' stacks, and a long one grows by its sample index only.
    std::uint64_t memoryLimitBytes = std::uint64_t(1) << 30;
    /// The host's own fetch of an HLS playlist.
    platform::HTTPFetchLimits playlistFetch;
};

/// Fills a placeholder that the browser saved under the final name with the real media of an HLS
/// or DASH stream, or of separate video and audio tracks: FFmpeg remuxes the best streams,
/// without re-encoding, into an MP4 file beside the placeholder, which takes over the
/// placeholder's download attributes and is swapped into its place atomically, never over a file
/// that replaced the placeholder meanwhile. Throws `MediaMaterializerError`; a tool that cannot
/// be started, or whose output cannot be collected, throws the system's `std::system_error`.
struct MediaMaterializer {
    MediaToolLimits limits;

    /// Attributes the finished file takes over from the placeholder.
    static constexpr std::array<std::string_view, 2> preservedAttributes = {"com.apple.quarantine",
                                                                            "com.apple.provenance"};

    /// From an HLS ("m3u8") or DASH ("mpd") manifest; `mediaKind` is "video" or "audio".
    void materialize(const std::string& path, const std::string& manifestURL,
                     const std::string& mediaKind) const;

    /// From a progressive video or audio track, with a separate audio track to add when given,
    /// requested with the page's address as referrer when given.
    void materialize(const std::string& path, const std::string& mediaURL,
                     const std::optional<std::string>& audioURL, const std::string& mediaKind,
                     const std::optional<std::string>& referrerURL) const;

    /// An http or https track address with a host and the extension "m4s", "m4a" or "mp4",
    /// without user name and password.
    static std::string validatedMediaTrackURL(const std::string& text);

    /// An http or https page address with a host, without user name, password and fragment.
    static std::string validatedReferrerURL(const std::string& text);

    /// The best variant of an HLS master playlist (largest picture, then highest bit rate, the
    /// earliest among equals) and its audio rendition (the group's default first); a media
    /// playlist is read as it is, from `baseURL`.
    static HLSInputs preferredHLSInputs(std::string_view playlist, const std::string& baseURL);
};

} // namespace brindle
