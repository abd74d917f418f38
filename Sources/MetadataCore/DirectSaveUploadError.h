#pragma once

#include <exception>

namespace brindle {

/// Why a streamed upload was refused or lost.
class DirectSaveUploadError : public std::exception {
public:
    enum class Case { invalidRequest, invalidChunk, invalidUpload, writeFailed };

    explicit DirectSaveUploadError(Case errorCase) noexcept : case_(errorCase) {}

    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override;

private:
    Case case_;
};

} // namespace brindle
