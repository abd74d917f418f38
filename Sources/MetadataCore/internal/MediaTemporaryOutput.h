#pragma once

#include "Platform/FileStatus.h"
#include "Platform/PendingFile.h"

#include <optional>
#include <string>

namespace brindle::mediaMaterialization {

/// The file FFmpeg writes beside the placeholder. It has no name there until it is swapped in
/// (see `platform::PendingFile`) and never more permissions than the placeholder; it is gone on
/// every exit. Once it has had a name, only FFmpeg's output or the displaced placeholder is
/// removed under that name: after a swap back that failed it may name another program's file.
class TemporaryOutput {
public:
    /// For the placeholder at `targetPath`, opened with `placeholder`; throws `replacementFailed`.
    TemporaryOutput(const std::string& targetPath, const std::string& extension,
                    const platform::FileStatus& placeholder);
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;
    ~TemporaryOutput();

    /// The open file, for the tool that writes or reads it.
    int descriptor() const { return file_.descriptor(); }

    /// FFmpeg's output must be a non-empty regular file of this user; else `conversionFailed`.
    void validate();

    /// The placeholder's download attributes and permission bits, from its open descriptor.
    void takeOverFrom(int placeholderDescriptor);

    /// Swaps the output into the placeholder's place, which must still hold the placeholder;
    /// throws `targetChanged` (after swapping back) or `replacementFailed`.
    void exchange();

private:
    platform::PendingFile file_;
    std::string targetName_;
    platform::FileStatus placeholder_;
    std::optional<platform::FileIdentity> output_;
};

} // namespace brindle::mediaMaterialization
