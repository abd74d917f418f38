#pragma once

#include "Platform/FileStatus.h"

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace brindle::platform::processJournal {

// What a host process creates or starts that must not outlive it: a hidden temporary file beside
// a user's file, a staged upload, a child process. Each is noted in the process's own journal
// before it exists (a child right after it starts). The journal is a file in a private folder,
// on which the process holds an exclusive lock for its whole life. A journal whose lock is free
// was left by a process that died without cleaning up (SIGKILL, a crash, a power cut); the next
// host to start settles it: it ends the children still running, undoes a swap caught half-way,
// removes the temporaries, then the journal. The user's folders are never searched: only what a
// journal names is touched, and only a file that reads whole as a journal of this system, under
// the name and owner it gives one, is taken for one. Noting is best effort: a journal that cannot
// be written never stops the work it would have protected.

/// Journals live in `folder`, a private folder of this user; nothing is written there until
/// something is noted. Before this call and after `close`, noting does nothing.
void useFolder(const std::string& folder);

/// Notes a file about to be created that must not be found after this process has gone.
void noteTemporaryFile(const std::string& path);

/// Notes that the temporary file at `temporaryPath`, already noted, is about to be swapped with
/// `targetPath`, which is then renamed: a process that dies in between has its swap undone.
void noteExchange(const std::string& temporaryPath, const std::string& targetPath);

/// Notes a child just started, to be ended if this process dies before it.
void noteChildProcess(pid_t pid);

/// Empties the journal: nothing noted so far exists any more.
void forgetAll() noexcept;

/// Nothing noted so far exists any more but the files at `paths`, all noted: the journal keeps
/// no more than about them.
void forgetAllBut(const std::vector<std::string>& paths) noexcept;

/// Removes the journal of a process that ends having removed everything it noted.
void close() noexcept;

struct FolderSurvey {
    std::vector<std::string> otherFiles;  // the names of the folder's other regular files
    std::vector<std::string> livingNotes; // the files noted by processes that are still running
    // The files those notes name now, and those that their swaps put in place.
    std::vector<FileIdentity> livingFiles;
};

/// Whether a file's name is one that this system gives its temporaries: the layer that makes the
/// names knows them.
using TemporaryNameRule = std::function<bool(std::string_view name)>;

/// Settles every abandoned journal in the folder open as `directory`, removing only the noted
/// files whose names `isTemporaryName` accepts. The folder is listed before the journals of
/// running processes are read, so a file there that a running process made is in its notes, as
/// long as files are not made there while this runs.
FolderSurvey settleAbandonedJournals(int directory, const TemporaryNameRule& isTemporaryName);

} // namespace brindle::platform::processJournal
