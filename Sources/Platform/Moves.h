#pragma once

// Moves and replacements: a user's file moved by path, swaps and exclusive renames in one step,
// and a temporary output that takes a target's place once it is verified.
//
// Errors: every call that can fail returns a `Result` holding the system's errno value (EEXIST,
// EXDEV, EINVAL where a file system cannot swap, ...); nothing here throws (a copy across file
// systems that this process is asked to end during fails with ECANCELED), and a failure leaves
// the files as they were (as far as each call says below).
//
// Symbolic links: these calls work on directory entries, never on what a link points to: a link
// is moved, swapped or replaced as itself (and refused, ELOOP, where it would have to be copied
// across file systems). The folders above the last component are followed as the system does;
// `TemporaryOutput` then holds its folder open, so a later rename of it is followed too.

#include "Platform/Files.h"
#include "Platform/Result.h"

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace brindle::platform {

//===--- Moves ---===//

// Moves of a user's file by path. Across file systems the file
// is copied (contents, mode, times and extended attributes) into a hidden temporary file in the
// destination folder, flushed to storage, renamed into place, and only then is the source
// removed: the final name never holds half a file, and a failure leaves the source as it was.
// A source that cannot be removed fails the move with its error, after the copy has been taken
// back out and any file that it replaced put back. Attributes that the destination has no room
// for are left behind, those that say where a download came from being copied first.

/// Moves `source` to `destination` without ever replacing anything there: EEXIST when a file
/// is (or appears meanwhile) at `destination`, and the source is left where it was.
Result<> moveItemWithoutReplacing(const std::string& source, const std::string& destination);

/// Moves `source` over the file at `destination`, which it replaces in one step.
Result<> replaceItem(const std::string& source, const std::string& destination);

//===--- Swaps and exclusive renames ---===//

/// Swaps what two paths name in one atomic step (both must exist, on one file system).
Result<> exchangePaths(const std::string& first, const std::string& second);

/// Renames `source` to `destination` unless something already exists there (EEXIST), in one
/// atomic step.
Result<> renameExclusively(const std::string& source, const std::string& destination);

/// Clears the flag that hides a file from the file manager. Linux has no such flag (a leading
/// dot hides a file), so there is never anything to clear.
Result<> clearHiddenFileFlag(const std::string& path);

//===--- Verified replacement ---===//

/// A file made beside a target file, under a hidden name of the caller's making, to take the
/// target's place once it is complete and checked. Its name is noted in the process's journal
/// before it exists. Each step goes through the folder's descriptor, so a folder that is renamed
/// meanwhile is followed, and whatever then stands at its old path is never touched.
///
/// On destruction, what the name holds is removed only when this object can prove it made it:
/// the recorded output, or, once an exchange is committed, the target it displaced; before an
/// output is recorded or an exchange tried, whatever the caller's tool left there. A swap back
/// that failed may leave another program's file under the name, and that stays.
class TemporaryOutput {
public:
    /// The temporary's name for the target at the path given.
    using Naming = std::function<std::string(const std::string& targetPath)>;

    /// A name for a file that another program creates at `path()`: nothing exists yet.
    static Result<TemporaryOutput> reserve(const std::string& targetPath, const Naming& naming);

    /// An empty file, open for reading and writing, with no more than `permissions` (the umask
    /// applies). It has no name until it is exchanged, so a process that dies leaves nothing of
    /// it; on a file system that cannot hold a nameless file (O_TMPFILE), it is named at once.
    static Result<TemporaryOutput> create(const std::string& targetPath, const Naming& naming,
                                          mode_t permissions);

    TemporaryOutput(TemporaryOutput&&) noexcept = default;
    TemporaryOutput& operator=(TemporaryOutput&&) = delete;
    ~TemporaryOutput();

    const std::string& path() const { return path_; }
    /// The open file of `create`; none (not open) for a reserved name.
    DescriptorRef descriptor() const { return file_; }

    /// Takes what the open file, else the name, holds now as the output: only it is removed
    /// after an exchange that was not committed. Its status, for the caller to judge.
    Result<FileStatus> recordOutput();

    /// What happens to an exchange that a dying process leaves: it stays, or the next host to
    /// start swaps it back (for a target that is about to be renamed, say).
    enum class IfInterrupted { stays, isUndone };

    /// Swaps the output and the target in one atomic step, then asks `isTarget` about the file
    /// that left the target's place; when that is not the target that was judged, swaps back and
    /// returns false. An error is the system's (EINVAL where the file system cannot swap).
    Result<bool> exchange(const std::function<bool(const FileStatus& displaced)>& isTarget,
                          IfInterrupted ifInterrupted = IfInterrupted::stays);

    /// Swaps back after a verified exchange, for a step after it that failed; may fail unseen.
    void swapBack() noexcept;

    /// The exchange stands: the target it displaced is removed with this object.
    void commit() { committed_ = true; }

private:
    TemporaryOutput(Directory folder, std::string targetPath, std::string name, FileDescriptor file,
                    bool named);
    Result<> giveName();
    std::string targetName() const;

    Directory folder_;
    std::string targetPath_;
    std::string name_;
    std::string path_; // for the journal and for the tools that write the file by path
    FileDescriptor file_;
    bool named_ = false;
    bool exchanged_ = false; // an exchange was attempted
    bool committed_ = false;
    std::optional<FileIdentity> output_;
    std::optional<FileIdentity> displaced_;
};

} // namespace brindle::platform
