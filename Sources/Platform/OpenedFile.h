#pragma once

#include "Platform/FileDescriptor.h"
#include "Platform/FileStatus.h"
#include "Platform/Result.h"

#include <string>
#include <system_error>

namespace brindle::platform {

/// Why an existing file was not opened on the user's behalf. The system's own reasons (no such
/// file, a link as the last component, no permission) come as errno values instead.
enum class FileRefusal { notRegularFile = 1, notOwnedByCurrentUser };

std::error_code make_error_code(FileRefusal refusal);

/// An open file and its status when it was opened, to compare with later.
struct OpenedFile {
    FileDescriptor descriptor;
    FileStatus status;
};

/// Whose files may be opened: the current user's only, or anyone's (to read a file's content).
enum class RequiredOwner { currentUser, anyone };
/// Whether a symbolic link as the last component is refused or followed to the file it names
/// (as a browser reads a manifest the system's administrator installed as a link).
enum class LastLink { refuse, follow };

/// Opens `path` read-only, never through a symbolic link as its last component, close-on-exec
/// and without blocking on a FIFO; then refuses anything but a regular file of `owner`. Later
/// work goes through the descriptor, so a file swapped in at the same path is never touched.
Result<OpenedFile> openRegularFile(const std::string& path,
                                   RequiredOwner owner = RequiredOwner::currentUser,
                                   LastLink lastLink = LastLink::refuse);

} // namespace brindle::platform

template <> struct std::is_error_code_enum<brindle::platform::FileRefusal> : std::true_type {};
