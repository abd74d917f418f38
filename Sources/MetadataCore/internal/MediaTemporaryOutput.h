#pragma once

#include "Platform/Files.h"
#include "Platform/Moves.h"

#include <string>

namespace brindle::mediaMaterialization {

/// The file FFmpeg writes beside the placeholder. It has no name there until it is swapped in
/// (see `platform::TemporaryOutput`) and never more permissions than the placeholder; it is gone
/// on every exit but success, which leaves the displaced placeholder to go instead.
class TemporaryOutput {
public:
    /// For the placeholder at `targetPath`, opened with `placeholder`; throws `replacementFailed`.
    TemporaryOutput(const std::string& targetPath, const std::string& extension,
                    const platform::FileStatus& placeholder);

    /// The open file, for the tool that writes or reads it.
    platform::DescriptorRef descriptor() const { return file_.descriptor(); }

    /// FFmpeg's output must be a non-empty regular file of this user; else `conversionFailed`.
    void validate();

    /// The placeholder's download attributes and permission bits, from its open descriptor.
    void takeOverFrom(platform::DescriptorRef placeholder);

    /// Swaps the output into the placeholder's place, which must still hold the placeholder;
    /// throws `targetChanged` (after swapping back) or `replacementFailed`.
    void exchange();

private:
    platform::TemporaryOutput file_;
    platform::FileStatus placeholder_;
};

} // namespace brindle::mediaMaterialization
