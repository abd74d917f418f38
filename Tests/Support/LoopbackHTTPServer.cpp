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

namespace {

// Reads a request up to the end of its head, and of the body its Content-Length announces
// (Chromium spells the header this way). Gives the head and that body, or only the head.
std::pair<std::string, std::optional<std::string>> readRequest(int connection) {
    std::string received;
    char buffer[65536];
    for (ssize_t count; (count = read(connection, buffer, sizeof buffer)) > 0;) {
        received.append(buffer, static_cast<std::size_t>(count));
        const std::size_t end = received.find("\r\n\r\n");
        const std::size_t length = received.find("Content-Length: ");
        if (end != std::string::npos && length > end)
            return {received.substr(0, end), std::nullopt};
        if (end != std::string::npos &&
            received.size() >= end + 4 + std::stoul(received.substr(length + 16)))
            return {received.substr(0, end), received.substr(end + 4)};
    }
    return {received, std::nullopt};
}

bool sendAll(int connection, const std::string& bytes) {
    return send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

// The head announces `length` bytes, or the body's own when it is longer.
void reply(int connection, const std::string& status, const std::string& headers = "",
           const std::string& body = "", std::size_t length = 0) {
    sendAll(connection, "HTTP/1.1 " + status + "\r\n" + headers +
                            "Content-Length: " + std::to_string(std::max(length, body.size())) +
                            "\r\nConnection: close\r\n\r\n" + body);
}

void serve(int connection, const std::string& folder) {
    const std::string head = readRequest(connection).first;
    const std::size_t start = head.find(' ') + 1;
    const std::string target = head.substr(start, head.find(' ', start) - start);
    const std::string path = target.substr(0, target.find('?'));
    const bool stalls = path.starts_with("/stall/");
    if (stalls || path.starts_with("/trickle/")) {
        reply(connection, "200 OK", "", "", 1000000);
        for (char byte; stalls ? read(connection, &byte, 1) > 0 : sendAll(connection, "#");)
            std::this_thread::sleep_for(std::chrono::milliseconds(stalls ? 0 : 50));
    } else if (path.starts_with("/redirect/")) {
        reply(connection, "302 Found", "Location: " + target.substr(target.find('?') + 1) + "\r\n");
    } else if (path.find("..") == std::string::npos &&
               std::filesystem::is_regular_file(folder + path)) {
        reply(connection, "200 OK", "", readFile(folder + path));
    } else {
        reply(connection, "404 Not Found");
    }
    shutdown(connection, SHUT_WR);
}

} // namespace

LoopbackHTTPServer::LoopbackHTTPServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{
        .sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
}

LoopbackHTTPServer::~LoopbackHTTPServer() {
    shutdown(listener_, SHUT_RDWR); // ends the acceptor's wait
    if (acceptor_.joinable())
        acceptor_.join();
    for (auto& [connection, handler] : handlers_) {
        shutdown(connection, SHUT_RDWR); // ends stalled and trickling answers
        handler.join();
        close(connection);
    }
    close(listener_);
}

// Only the acceptor adds connections; the destructor looks at them once it has ended.
void LoopbackHTTPServer::serveFolder(const std::string& folder) {
    acceptor_ = std::thread([this, folder] {
        for (int connection;
             (connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
            handlers_.emplace_back(connection, [=] { serve(connection, folder); });
    });
}

std::string LoopbackHTTPServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::optional<std::string> LoopbackHTTPServer::nextRequestBody(std::chrono::milliseconds timeout) {
    pollfd waiting{listener_, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(timeout.count())) != 1)
        return std::nullopt;
    // A failed accept reads nothing. The request follows at once; a client that stalls is given
    // up on.
    const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    const timeval patience{10, 0};
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    const std::optional<std::string> body = readRequest(connection).second;
    reply(connection, "200 OK", "Access-Control-Allow-Origin: *\r\n");
    close(connection);
    return body;
}

} // namespace brindle::testing
