#include "Support/LoopbackHTTPServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace brindle::testing {

namespace {

bool waitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

size_t contentLength(const std::string& headers) {
    const std::string name = "content-length:";
    std::string lower;
    for (char c : headers)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t at = lower.find(name);
    if (at == std::string::npos)
        return 0;
    return std::stoul(headers.substr(at + name.size()));
}

} // namespace

LoopbackHTTPServer::LoopbackHTTPServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
}

LoopbackHTTPServer::~LoopbackHTTPServer() {
    if (listener_ >= 0)
        close(listener_);
}

std::string LoopbackHTTPServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::optional<std::string> LoopbackHTTPServer::nextRequestBody(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!waitReadable(listener_, deadline))
        return std::nullopt;
    const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0)
        return std::nullopt;

    std::string received;
    size_t headerEnd = std::string::npos;
    char buffer[65536];
    while (true) {
        headerEnd = received.find("\r\n\r\n");
        if (headerEnd != std::string::npos &&
            received.size() >= headerEnd + 4 + contentLength(received.substr(0, headerEnd)))
            break;
        if (!waitReadable(connection, deadline))
            break;
        const ssize_t count = read(connection, buffer, sizeof buffer);
        if (count <= 0)
            break;
        received.append(buffer, static_cast<size_t>(count));
    }

    const std::string reply = "HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: *\r\n"
                              "Content-Length: 0\r\nConnection: close\r\n\r\n";
    [[maybe_unused]] const ssize_t sent = write(connection, reply.data(), reply.size());
    close(connection);
    if (headerEnd == std::string::npos)
        return std::nullopt;
    return received.substr(headerEnd + 4);
}

} // namespace brindle::testing
