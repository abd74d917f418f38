#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The URL parser's handle type (CURLU).
struct Curl_URL;

namespace brindle::platform {

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

} // namespace brindle::platform
