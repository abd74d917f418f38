#pragma once

#include <exception>
#include <string>
#include <system_error>

namespace brindle {

/// A folder that could not be created; the message names the folder and the system's reason.
class DirectoryCreationError : public std::exception {
public:
    DirectoryCreationError(const std::string& path, int errorNumber);
    DirectoryCreationError(const std::string& path, std::errc reason)
        : DirectoryCreationError(path, static_cast<int>(reason)) {}

    int errorNumber() const noexcept { return errorNumber_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    int errorNumber_;
    std::string message_;
};

/// Creates the folder at `path` and any missing parent, each new one with exactly
/// `permissions`. A folder that already exists (a link to a folder included) is left as it is.
/// Throws `DirectoryCreationError` naming the first folder that could not be made.
/// `permissions` holds the mode bits as `chmod` takes them (0700).
void createDirectoryWithIntermediates(const std::string& path, unsigned permissions);

} // namespace brindle
