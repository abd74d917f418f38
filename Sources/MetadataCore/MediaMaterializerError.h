#pragma once

#include <exception>
#include <optional>
#include <string>

namespace brindle {

/// Why streaming media could not be turned into one file.
class MediaMaterializerError : public std::exception {
public:
    enum class Case {
        probeFailed,
        conversionFailed,
        replacementFailed,
        invalidManifestURL,
        invalidMediaTrackURL,
        invalidMediaKind,
        invalidPath,
        targetChanged,
        ffmpegMissing,
        noMediaStream,
        urlParserUnavailable,
    };

    /// The detail, when present and not empty, follows the message after a full-width colon.
    static MediaMaterializerError probeFailed(const std::optional<std::string>& detail = {});
    static MediaMaterializerError conversionFailed(const std::optional<std::string>& detail = {});
    static MediaMaterializerError replacementFailed(int errorNumber);
    static MediaMaterializerError invalidManifestURL();
    static MediaMaterializerError invalidMediaTrackURL();
    static MediaMaterializerError invalidMediaKind();
    static MediaMaterializerError invalidPath();
    static MediaMaterializerError targetChanged();
    static MediaMaterializerError ffmpegMissing();
    static MediaMaterializerError noMediaStream();
    /// No address can be judged: the URL library did not load (`reason` says why).
    static MediaMaterializerError urlParserUnavailable(const std::string& reason);

    Case errorCase() const noexcept { return case_; }
    /// The errno value of `replacementFailed`; 0 otherwise.
    int errorNumber() const noexcept { return errorNumber_; }
    /// Whether asking again may help: a tool or network failure, a file that changed or is not
    /// there yet, or a swap refused for a passing reason.
    bool isRetryable() const noexcept;
    const char* what() const noexcept override { return message_.c_str(); }

private:
    MediaMaterializerError(Case errorCase, std::string message, int errorNumber = 0)
        : case_(errorCase), message_(std::move(message)), errorNumber_(errorNumber) {}

    Case case_;
    std::string message_;
    int errorNumber_;
};

} // namespace brindle
