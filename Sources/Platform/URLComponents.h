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
    /// Nothing when `text` is not a URL with a scheme (or not UTF-8).
    static std::optional<URLComponents> parse(std::string_view text);

    /// Lower-cased.
    std::string scheme() const;

    /// Whether the URL names a non-empty host ("http:///x" and "http:/x" do not).
    bool hasHost() const { return hasHost_; }

    void removeUserAndPassword();

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
