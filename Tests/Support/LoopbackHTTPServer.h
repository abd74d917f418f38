#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace brindle::testing {

/// An HTTP server on 127.0.0.1, on a port the kernel picks. Either it answers one request at a
/// time with an empty 200 reply that any origin may read (`nextRequestBody`), or it serves a
/// folder to any number of clients at once (`serveFolder`).
class LoopbackHTTPServer {
public:
    LoopbackHTTPServer();
    ~LoopbackHTTPServer();
    LoopbackHTTPServer(const LoopbackHTTPServer&) = delete;
    LoopbackHTTPServer& operator=(const LoopbackHTTPServer&) = delete;

    std::string url(const std::string& path) const;

    /// Waits for the next request and returns its body, or nothing when none arrives in time.
    std::optional<std::string> nextRequestBody(std::chrono::milliseconds timeout);

    /// From now on answers GET requests (query ignored) with the files of `folder`, or 404.
    /// "/redirect/X?Y" redirects to Y; "/stall/..." sends its headers, then nothing; "/trickle/..."
    /// sends its headers, then one byte every 50 ms. Each connection carries one request.
    void serveFolder(const std::string& folder);

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread acceptor_;
    std::vector<std::pair<int, std::thread>> handlers_; // each connection's
};

} // namespace brindle::testing
