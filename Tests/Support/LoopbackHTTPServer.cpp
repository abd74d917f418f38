#include "Support/LoopbackHTTPServer.h"

#include "Support/TemporaryDirectory.h"

#include <arpa/inet.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace brindle::testing {

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
        shutdown(listener_, SHUT_RDWR); // ends the acceptor's wait
    if (acceptor_.joinable())
        acceptor_.join();
    for (const int connection : connections_)
        shutdown(connection, SHUT_RDWR); // ends stalled and trickling answers
    for (std::thread& handler : handlers_)
        handler.join();
    for (const int connection : connections_)
        close(connection);
    if (listener_ >= 0)
        close(listener_);
}

void LoopbackHTTPServer::serveFolder(const std::string& folder) {
    folder_ = folder;
    acceptor_ = std::thread([this] {
        for (int connection;
             (connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            const std::lock_guard lock(mutex_);
            connections_.push_back(connection);
            handlers_.emplace_back([this, connection] { serve(connection); });
        }
    });
}

void LoopbackHTTPServer::serve(int connection) {
    std::string request;
    char buffer[4096];
    ssize_t count = 0;
    while (request.find("\r\n\r\n") == std::string::npos &&
           (count = read(connection, buffer, sizeof buffer)) > 0)
        request.append(buffer, static_cast<std::size_t>(count));
    const std::size_t start = request.find(' ') + 1;
    const std::string target = request.substr(start, request.find(' ', start) - start);
    const std::string path = target.substr(0, target.find('?'));
    const auto send = [&](const std::string& bytes) {
        return ::send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    };
    const std::string close = "Connection: close\r\n\r\n";
    if (path.starts_with("/stall/")) {
        send("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n" + close);
        while (read(connection, buffer, sizeof buffer) > 0) {
        }
    } else if (path.starts_with("/trickle/")) {
        send("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n" + close);
        while (send("#"))
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } else if (path.starts_with("/redirect/")) {
        const std::size_t query = target.find('?');
        send("HTTP/1.1 302 Found\r\nLocation: " +
             (query == std::string::npos ? path.substr(9) : target.substr(query + 1)) +
             "\r\nContent-Length: 0\r\n" + close);
    } else if (path.find("..") == std::string::npos && exists(folder_ + path) &&
               !std::filesystem::is_directory(folder_ + path)) {
        const std::string body = readFile(folder_ + path);
        send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + close +
             body);
    } else {
        send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n" + close);
    }
    shutdown(connection, SHUT_WR);
}

std::string LoopbackHTTPServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::optional<std::string> LoopbackHTTPServer::nextRequestBody(std::chrono::milliseconds timeout) {
    pollfd waiting{listener_, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(timeout.count())) != 1)
        return std::nullopt;
    const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0)
        return std::nullopt;
    // The request follows at once; a client that stalls is given up on.
    const timeval patience{10, 0};
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);

    // Chromium spells the length header this way.
    std::string received;
    std::optional<std::string> body;
    char buffer[65536];
    for (ssize_t count; !body && (count = read(connection, buffer, sizeof buffer)) > 0;) {
        received.append(buffer, static_cast<std::size_t>(count));
        const std::size_t end = received.find("\r\n\r\n");
        const std::size_t length = received.find("Content-Length: ");
        if (end != std::string::npos && length < end &&
            received.size() >= end + 4 + std::stoul(received.substr(length + 16)))
            body = received.substr(end + 4);
    }

    const std::string reply = "HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: *\r\n"
                              "Content-Length: 0\r\nConnection: close\r\n\r\n";
    [[maybe_unused]] const ssize_t sent = write(connection, reply.data(), reply.size());
    close(connection);
    return body;
}

} // namespace brindle::testing
