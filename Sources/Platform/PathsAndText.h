#pragma once

// Paths, path extensions, the user's standard folders, Unicode text, Base64, URL components and
// UUIDs: rules on strings.
//
// Errors: none of these returns a `Result` or throws; what cannot be answered is an empty
// `std::optional` (a folder without $HOME, a text that is not a URL) or `false` (invalid Base64).
//
// Symbolic links: paths are worked on as text and never resolved against the disk, so links are
// neither followed nor detected ("a/link/.." becomes "a"). Only `absoluteStandardizedPath` reads
// the current directory, and the standard folders read the environment and password database.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The URL parser's handle type (CURLU).
struct Curl_URL;

namespace brindle::platform {

//===--- Paths ---===//

/// Resolves "." and ".." components and repeated slashes without touching the disk, the way a
/// file URL is standardised. A trailing slash is dropped (except for the root itself).
std::string standardizedPath(std::string_view path);

/// `standardizedPath` of the path, a relative one first taken from the current directory (as a
/// file URL is made from a path). Without a current directory, a relative path stays relative.
std::string absoluteStandardizedPath(std::string_view path);

/// `directory` + "/" + `component`, with exactly one slash between them.
std::string appendingPathComponent(std::string_view directory, std::string_view component);

/// The path without its last component ("/a/b/c" -> "/a/b", "/a" -> "/").
std::string deletingLastPathComponent(std::string_view path);

/// The last component ("/a/b/c" -> "c").
std::string lastPathComponent(std::string_view path);

//===--- Path extensions ---===//

/// The part of the last path component after its final ".", as a file URL's path extension:
/// nothing for "name", ".hidden" or "..", and an empty extension for "name.".
std::string pathExtension(std::string_view path);

/// The path without its extension and that extension's dot; unchanged when it has none.
std::string deletingPathExtension(std::string_view path);

//===--- Standard folders ---===//

/// The user's home folder: $HOME, else the password database.
std::optional<std::string> homeDirectory();

/// Where the user's application data lives (the per-user Application Support folder):
/// $XDG_DATA_HOME when it is absolute, else ~/.local/share.
std::optional<std::string> applicationSupportDirectory();

/// Where the user's programs keep their settings: $XDG_CONFIG_HOME when it is absolute, else
/// ~/.config.
std::optional<std::string> configurationDirectory();

/// Where the user's programs keep what they can compute again ($XDG_CACHE_HOME when it is
/// absolute, else ~/.cache).
std::optional<std::string> cacheDirectory();

//===--- Unicode text ---===//

/// One Unicode scalar decoded from UTF-8 and the bytes it took. A byte that does not start a
/// valid sequence decodes as U+FFFD and takes one byte, so every byte belongs to some scalar.
struct DecodedScalar {
    char32_t value;
    std::size_t length;

    /// True for a byte that stands in for itself (U+FFFD proper takes three bytes).
    bool isUndecodable() const { return value == U'\uFFFD' && length == 1; }
};

DecodedScalar decodeScalar(std::string_view text, std::size_t offset);

bool isValidUTF8(std::string_view text);

/// Whitespace and line breaks in the Unicode sense: separators (Zs, Zl, Zp), the controls
/// U+0009 to U+000D and U+0085.
bool isWhitespaceOrNewline(char32_t scalar);

/// Letters, marks and digits of any script (the general categories L*, M* and N*).
bool isAlphanumeric(char32_t scalar);

// "Characters" here are user-perceived characters (extended grapheme clusters), as a person
// counts them: "e" with a combining accent, or a flag, is one character.

/// Byte offsets at which the characters of `text` end, in order; the last one is `text.size()`.
std::vector<std::size_t> characterEnds(std::string_view text);

std::size_t characterCount(std::string_view text);

/// The first `count` characters of `text` (all of it when it is shorter).
std::string characterPrefix(std::string_view text, std::size_t count);

/// `text` without white space and line breaks (see `isWhitespaceOrNewline`) at either end.
std::string trimmingWhitespaceAndNewlines(std::string_view text);

/// `text` with every scalar mapped to its lower-case form; undecodable bytes are kept as they are.
std::string lowercased(std::string_view text);

/// `text` in Unicode canonical composed form (NFC), so that "é" typed as one scalar and as "e"
/// with a combining accent compare equal. Text that is not valid UTF-8 is returned unchanged.
std::string canonicallyComposed(std::string_view text);

//===--- Base64 ---===//

/// How many bytes `text` decodes to if it is valid Base64 (nothing is checked here).
std::size_t base64DecodedLength(std::string_view text);

/// Decodes strict standard Base64 into `bytes`: the alphabet A-Z a-z 0-9 + /, a length that is
/// a multiple of four, and "=" padding only to fill the last group. Anything else (white space,
/// line breaks, the URL-safe alphabet, missing padding) is refused with false; `bytes` is then
/// unspecified. An empty text decodes to nothing.
bool decodeBase64(std::string_view text, std::string& bytes);

//===--- URL components ---===//

/// A URL split into its components (RFC 3986), which can be changed and put back together.
class URLComponents {
public:
    /// Loads the URL library unless it is loaded (again after a failed load): nothing once it
    /// is, else why not. Until it is, `parse` finds no URL in any text.
    static std::optional<std::string> parserLoadFailure();

    /// Nothing when `text` is not a URL with a scheme (or not UTF-8).
    static std::optional<URLComponents> parse(std::string_view text);

    /// The URL that `reference` names when read relative to this one (RFC 3986: "." and ".."
    /// segments are resolved); an absolute reference stands for itself. Nothing when the
    /// reference is not a URL reference.
    std::optional<URLComponents> resolving(std::string_view reference) const;

    /// Lower-cased.
    std::string scheme() const;

    std::string host() const;

    /// The path with its percent-escapes decoded.
    std::string path() const;

    /// Whether the URL names a non-empty host ("http:///x" and "http:/x" do not).
    bool hasHost() const { return hasHost_; }

    void removeUserAndPassword();
    void removeFragment();

    /// The whole URL again; nothing when the components no longer make one.
    std::optional<std::string> string() const;

private:
    struct HandleRelease {
        void operator()(Curl_URL* handle) const;
    };
    using Handle = std::unique_ptr<Curl_URL, HandleRelease>;

    URLComponents(Handle handle, bool hasHost) : handle_(std::move(handle)), hasHost_(hasHost) {}

    Handle handle_;
    bool hasHost_;
};

//===--- UUIDs ---===//

/// A new random (version 4) UUID in canonical upper-case text, "E621E1F8-C36C-495A-93FC-...".
std::string randomUUIDString();

inline constexpr std::size_t uuidStringLength = 36;

/// Whether `text` has the form `randomUUIDString` gives (upper-case hexadecimal digits, dashes
/// after the 8th, 12th, 16th and 20th).
bool isUUIDString(std::string_view text);

} // namespace brindle::platform
