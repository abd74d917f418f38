#pragma once

#include <optional>
#include <string>

namespace brindle {

struct DownloadDestinationMoveResult {
    /// The destination file; for a conflict, the file that already is there.
    std::string path;
    /// The file now lies at `path`.
    bool moved = false;
    /// A file already was at the destination and replacing it was not asked for; nothing moved.
    bool conflict = false;

    bool operator==(const DownloadDestinationMoveResult&) const = default;
};

/// Moves a finished download into the folder the user chose. Symbolic links are never followed,
/// an existing file is reported as a conflict unless replacing it is asked for (and then only a
/// regular file of the user's is replaced), and a failed move leaves the source as it was.
/// Throws `DownloadDestinationMoverError`.
struct DownloadDestinationMover {
    /// `destinationFilename` absent keeps the source's own name.
    DownloadDestinationMoveResult move(const std::string& path, const std::string& toDirectory,
                                       const std::optional<std::string>& destinationFilename,
                                       bool overwriteExisting) const;

    /// Deletes a download that is not wanted after all.
    void discard(const std::string& path) const;
};

} // namespace brindle
