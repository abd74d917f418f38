#pragma once

#include <exception>
#include <string>
#include <sys/types.h>

namespace brindle {

/// A folder that could not be created; the message names the folder and the system's reason.
class DirectoryCreationError : public std::exception {
public:
    DirectoryCreationError(const std::string& path, int errorNumber);

    int errorNumber() const noexcept { return errorNumber_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    int errorNumber_;
    std::string message_;
};

/// Creates the folder at `path` and any missing parent, each new one with exactly
/// `permissions`. A folder that already exists (a link to a folder included) is left as it is.
/// Throws `DirectoryCreationError` naming the first folder that could not be made.
void createDirectoryWithIntermediates(const std::string& path, mode_t permissions);

} // namespace brindle
