#pragma once

#include "Platform/FileDescriptor.h"
#include "Platform/Result.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brindle::platform {

/// A private file that collects what a child process writes: created exclusively, with mode
/// 0600, in the user's temporary folder ($TMPDIR when it is absolute, else /tmp), and removed
/// when this goes.
class ScratchFile {
public:
    /// Creates the file `name`; a name that is taken, or a link in its place, is an error.
    static Result<ScratchFile> create(const std::string& name);

    ScratchFile(ScratchFile&& other) noexcept
        : descriptor_(std::move(other.descriptor_)), path_(std::exchange(other.path_, {})) {}
    ScratchFile& operator=(ScratchFile&&) = delete;
    ~ScratchFile();

    int descriptor() const { return descriptor_.get(); }
    const std::string& path() const { return path_; }

    /// Everything written to the file.
    Result<std::string> contents() const;

    /// The whole lines among the file's last `maximumBytes` bytes: when the file is longer, the
    /// piece of a line that the cut leaves at the start is dropped too.
    Result<std::string> lastLines(std::size_t maximumBytes) const;

    /// The first line that holds one of `texts`, looked at in its first `lineBytes` bytes; the
    /// whole file is read, a piece at a time.
    Result<std::optional<std::string>> firstLineContaining(const std::vector<std::string>& texts,
                                                           std::size_t lineBytes = 4096) const;

private:
    ScratchFile(FileDescriptor descriptor, std::string path)
        : descriptor_(std::move(descriptor)), path_(std::move(path)) {}

    FileDescriptor descriptor_;
    std::string path_; // empty once moved from
};

} // namespace brindle::platform
