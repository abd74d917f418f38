#pragma once

#include <exception>
#include <string>

namespace brindle {

/// Why the sources of a download could not be recorded.
class MetadataWriterError : public std::exception {
public:
    enum class Case {
        openFailed,
        readAttributeFailed,
        writeAttributeFailed,
        invalidPath,
        notRegularFile,
        ownerMismatch,
        noUsableURLs,
        invalidExistingAttribute,
        visibleSourceTagFailed,
        urlParserUnavailable,
    };

    static MetadataWriterError openFailed(int errorNumber);
    static MetadataWriterError readAttributeFailed(int errorNumber);
    static MetadataWriterError writeAttributeFailed(int errorNumber);
    static MetadataWriterError invalidPath();
    static MetadataWriterError notRegularFile();
    static MetadataWriterError ownerMismatch();
    static MetadataWriterError noUsableURLs();
    static MetadataWriterError invalidExistingAttribute();
    static MetadataWriterError visibleSourceTagFailed();
    static MetadataWriterError urlParserUnavailable(const std::string& reason);

    Case errorCase() const noexcept { return case_; }
    /// The errno of the failed call, for the cases that carry one; 0 otherwise.
    int errorNumber() const noexcept { return errorNumber_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    MetadataWriterError(Case errorCase, std::string message, int errorNumber = 0)
        : case_(errorCase), message_(std::move(message)), errorNumber_(errorNumber) {}

    Case case_;
    std::string message_;
    int errorNumber_;
};

} // namespace brindle
