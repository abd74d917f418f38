#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace brindle {

/// The step of an action that failed, as reported to the extension in "stage".
enum class FailureStage { upload, materialize, optimize, metadata, destination };

std::string_view rawValue(FailureStage stage);

/// An error wrapped with the stage that raised it and whether sending the same request again
/// may succeed. Its message is the underlying error's, unchanged.
class HostActionError : public std::exception {
public:
    HostActionError(std::exception_ptr underlying, std::string message, FailureStage stage,
                    bool retryable)
        : underlying_(std::move(underlying)), message_(std::move(message)), stage_(stage),
          retryable_(retryable) {}

    const std::exception_ptr& underlying() const noexcept { return underlying_; }
    FailureStage stage() const noexcept { return stage_; }
    bool retryable() const noexcept { return retryable_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::exception_ptr underlying_;
    std::string message_;
    FailureStage stage_;
    bool retryable_;
};

/// Whether an error raised during `stage` may go away on a retry. Only the media and image
/// stages ask the error itself; every other stage is never retryable.
bool isRetryable(const std::exception& error, FailureStage stage);

/// Runs `step`; any error it raises (a missing request field included) leaves as a
/// `HostActionError` of `stage`. An error already wrapped keeps its own stage.
template <class Step> auto runInStage(FailureStage stage, Step&& step) -> decltype(step()) {
    try {
        return step();
    } catch (const HostActionError&) {
        throw;
    } catch (const std::exception& error) {
        throw HostActionError(std::current_exception(), error.what(), stage,
                              isRetryable(error, stage));
    }
}

} // namespace brindle
