#pragma once

#include <exception>
#include <string>

namespace brindle {

/// Why a download could not be moved into, or discarded instead of moving into, its folder.
class DownloadDestinationMoverError : public std::exception {
public:
    enum class Case { moveFailed, invalidSource, invalidDestinationDirectory };

    static DownloadDestinationMoverError moveFailed(const std::string& reason);
    static DownloadDestinationMoverError invalidSource();
    static DownloadDestinationMoverError invalidDestinationDirectory();

    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    DownloadDestinationMoverError(Case errorCase, std::string message)
        : case_(errorCase), message_(std::move(message)) {}

    Case case_;
    std::string message_;
};

} // namespace brindle
