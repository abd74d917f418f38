#pragma once

#include <exception>
#include <string>

namespace brindle {

/// A file-system failure of the save-panel exchange or of a folder listing, passed on with the
/// system's description. The message names the file or folder.
class SmartSaveFileError : public std::exception {
public:
    static SmartSaveFileError readFailed(const std::string& path, int errorNumber);
    static SmartSaveFileError writeFailed(const std::string& path, int errorNumber);
    static SmartSaveFileError directoryCreationFailed(const std::string& path, int errorNumber);
    static SmartSaveFileError permissionChangeFailed(const std::string& path, int errorNumber);
    static SmartSaveFileError listingFailed(const std::string& path, int errorNumber);

    int errorNumber() const noexcept { return errorNumber_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    SmartSaveFileError(const std::string& prefix, const std::string& path, int errorNumber);

    int errorNumber_;
    std::string message_;
};

} // namespace brindle
