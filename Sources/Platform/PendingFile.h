#pragma once

#include "Platform/FileDescriptor.h"
#include "Platform/FileStatus.h"
#include "Platform/Result.h"

#include <string>
#include <sys/types.h>

namespace brindle::platform {

/// A new file that is written in a folder before it has a name there: a process that dies, or a
/// folder that is moved meanwhile, leaves nothing of it behind. It takes its name only to be
/// swapped into place; on a file system that cannot hold a nameless file (O_TMPFILE), it is named
/// from the start. Each step goes through the folder's descriptor, so a folder that is renamed is
/// followed, and whatever then stands at its old path is never touched. The name is noted in the
/// process's journal before it exists.
class PendingFile {
public:
    /// An empty file, to be named `name` in the folder at `folderPath`, open for reading and
    /// writing, with no more than `permissions` (the umask applies).
    static Result<PendingFile> create(const std::string& folderPath, const std::string& name,
                                      mode_t permissions);

    int descriptor() const { return file_.get(); }
    bool isNamed() const { return named_; }

    /// Gives the file its name (EEXIST when the name is taken); nothing to do once it has one.
    Result<> giveName();

    /// Swaps the file's name with the folder's entry `otherName` in one atomic step.
    Result<> exchangeWith(const std::string& otherName) const;

    /// The status of what the file's name names now.
    Result<FileStatus> statusOfName() const;

    /// Removes the file's name from the folder.
    Result<> removeName() const;

private:
    PendingFile(FileDescriptor folder, std::string path, FileDescriptor file, bool named)
        : folder_(std::move(folder)), path_(std::move(path)), file_(std::move(file)),
          named_(named) {}
    std::string name() const;

    FileDescriptor folder_;
    std::string path_; // the name's path when the file was created, for the journal
    FileDescriptor file_;
    bool named_;
};

} // namespace brindle::platform
