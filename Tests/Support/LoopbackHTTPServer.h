#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace brindle::testing {

/// A one-request-at-a-time HTTP server on 127.0.0.1, on a port the kernel picks. Every request
/// gets an empty 200 reply that any origin may read.
class LoopbackHTTPServer {
public:
    LoopbackHTTPServer();
    ~LoopbackHTTPServer();
    LoopbackHTTPServer(const LoopbackHTTPServer&) = delete;
    LoopbackHTTPServer& operator=(const LoopbackHTTPServer&) = delete;

    std::string url(const std::string& path) const;

    /// Waits for the next request and returns its body, or nothing when none arrives in time.
    std::optional<std::string> nextRequestBody(std::chrono::milliseconds timeout);

private:
    int listener_ = -1;
    int port_ = 0;
};

} // namespace brindle::testing
