#include "Platform/Moves.h"

#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace brindle::platform {
namespace {

Result<Directory> openFolderOf(const std::string& targetPath) {
    FileDescriptor folder(
        open(deletingLastPathComponent(targetPath).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen())
        return lastErrnoCode();
    return Directory(std::move(folder));
}

// What a tool gone wrong left may be a folder (empty: it made nothing in it) or a link.
void removeEntry(int folder, const std::string& name) {
    if (unlinkat(folder, name.c_str(), 0) != 0 && errno == EISDIR)
        unlinkat(folder, name.c_str(), AT_REMOVEDIR);
}

} // namespace

TemporaryOutput::TemporaryOutput(Directory folder, std::string targetPath, std::string name,
                                 FileDescriptor file, bool named)
    : folder_(std::move(folder)), targetPath_(std::move(targetPath)), name_(std::move(name)),
      path_(appendingPathComponent(deletingLastPathComponent(targetPath_), name_)),
      file_(std::move(file)), named_(named) {}

Result<TemporaryOutput> TemporaryOutput::reserve(const std::string& targetPath,
                                                 const Naming& naming) {
    Result<Directory> folder = openFolderOf(targetPath);
    if (!folder)
        return folder.error();
    TemporaryOutput output(std::move(*folder), targetPath, naming(targetPath), FileDescriptor(),
                           true);
    processJournal::noteTemporaryFile(output.path_);
    return output;
}

Result<TemporaryOutput> TemporaryOutput::create(const std::string& targetPath, const Naming& naming,
                                                mode_t permissions) {
    Result<Directory> folder = openFolderOf(targetPath);
    if (!folder)
        return folder.error();
    const int folderDescriptor = folder->get();
    FileDescriptor file(openat(folderDescriptor, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, permissions));
    if (file.isOpen())
        return TemporaryOutput(std::move(*folder), targetPath, naming(targetPath), std::move(file),
                               false);
    // FAT and several network file systems hold no nameless files (older kernels say EISDIR).
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return lastErrnoCode();
    TemporaryOutput output(std::move(*folder), targetPath, naming(targetPath), FileDescriptor(),
                           false);
    processJournal::noteTemporaryFile(output.path_);
    output.file_ =
        FileDescriptor(openat(folderDescriptor, output.name_.c_str(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions));
    if (!output.file_.isOpen())
        return lastErrnoCode();
    output.named_ = true;
    return output;
}

TemporaryOutput::~TemporaryOutput() {
    if (!folder_.isOpen() || !named_)
        return;
    if (!exchanged_ && !output_) {
        removeEntry(folder_.get(), name_);
        return;
    }
    const Result<FileStatus> status = fileStatusInFolder(folder_, name_);
    if (status && ((output_ && status->identity == *output_) ||
                   (committed_ && displaced_ && status->identity == *displaced_)))
        unlinkat(folder_.get(), name_.c_str(), 0);
}

Result<FileStatus> TemporaryOutput::recordOutput() {
    Result<FileStatus> status =
        file_.isOpen() ? fileStatus(file_) : fileStatusInFolder(folder_, name_);
    if (status)
        output_ = status->identity;
    return status;
}

std::string TemporaryOutput::targetName() const {
    return lastPathComponent(targetPath_);
}

// Linking a nameless file through its descriptor alone takes a privilege; through /proc, not.
Result<> TemporaryOutput::giveName() {
    if (named_)
        return success();
    processJournal::noteTemporaryFile(path_);
    const std::string self = "/proc/self/fd/" + std::to_string(file_.get());
    if (linkat(AT_FDCWD, self.c_str(), folder_.get(), name_.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return lastErrnoCode();
    named_ = true;
    return success();
}

Result<bool> TemporaryOutput::exchange(const std::function<bool(const FileStatus&)>& isTarget,
                                       IfInterrupted ifInterrupted) {
    if (const Result<> named = giveName(); !named)
        return failure<bool>(named.error());
    // Between the swap and what follows it the output lies under the target's name.
    if (ifInterrupted == IfInterrupted::isUndone)
        processJournal::noteExchange(path_, targetPath_);
    exchanged_ = true;
    if (renameat2(folder_.get(), name_.c_str(), folder_.get(), targetName().c_str(),
                  RENAME_EXCHANGE) != 0)
        return failure<bool>(lastErrnoCode());
    const Result<FileStatus> displaced = fileStatusInFolder(folder_, name_);
    if (!displaced || !isTarget(*displaced)) {
        swapBack();
        return false;
    }
    displaced_ = displaced->identity;
    return true;
}

void TemporaryOutput::swapBack() noexcept {
    renameat2(folder_.get(), name_.c_str(), folder_.get(), targetName().c_str(), RENAME_EXCHANGE);
}

} // namespace brindle::platform
