#pragma once

#include <chrono>
#include <exception>
#include <string>

namespace brindle {

/// Why the host did not report its version.
class ProbeError : public std::exception {
public:
    enum class Case { launch, rejected, timeout, invalidResponse };

    static ProbeError launch(const std::string& reason);
    static ProbeError rejected(const std::string& message);
    static ProbeError timeout();
    static ProbeError invalidResponse();

    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    ProbeError(Case errorCase, std::string message)
        : case_(errorCase), message_(std::move(message)) {}

    Case case_;
    std::string message_;
};

/// Starts the host the way Chrome does, asks it for a "ping" and returns the version it
/// reports. Waits at most `timeout`; a host still running then is terminated and reaped, together
/// with whatever it started.
/// Throws `ProbeError`, or `std::system_error` when the request could not be written to a host
/// still there, and
/// `std::runtime_error` with the parser's reason when the reply is no JSON.
struct NativeHostProbe {
    static std::string version(const std::string& executable,
                               std::chrono::milliseconds timeout = std::chrono::seconds(4));
};

} // namespace brindle
