#pragma once

#include <exception>
#include <string>

namespace brindle {

/// Failures of a lossless WebP conversion. Outcomes that are not failures (nothing to gain, no
/// encoder) are results, not errors.
class ImageOptimizerError : public std::exception {
public:
    enum class Case {
        targetUnavailable,
        replacementFailed,
        invalidPath,
        cancelled,
        targetChanged,
    };

    static ImageOptimizerError targetUnavailable(int errorNumber);
    static ImageOptimizerError replacementFailed(int errorNumber);
    static ImageOptimizerError invalidPath();
    static ImageOptimizerError cancelled();
    static ImageOptimizerError targetChanged();

    Case errorCase() const noexcept { return case_; }
    /// The errno value of `targetUnavailable` and `replacementFailed`; 0 otherwise.
    int errorNumber() const noexcept { return errorNumber_; }
    /// Whether the same conversion may succeed when asked again: the file changed under it, or
    /// the system refused for a reason that passes (a busy, locked or vanished file).
    bool isRetryable() const noexcept;
    const char* what() const noexcept override { return message_.c_str(); }

private:
    ImageOptimizerError(Case errorCase, std::string message, int errorNumber = 0)
        : case_(errorCase), message_(std::move(message)), errorNumber_(errorNumber) {}

    Case case_;
    std::string message_;
    int errorNumber_;
};

/// The errno values that describe a passing condition rather than a lasting one.
bool isTransientErrorNumber(int errorNumber);

} // namespace brindle
