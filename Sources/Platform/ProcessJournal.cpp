#include "Platform/Processes.h"

#include "Platform/Files.h"
#include "Platform/PathsAndText.h"

#include <algorithm>
#include <charconv>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace brindle::platform::processJournal {
namespace {

// No staged upload or temporary name can begin with "_": request identifiers keep only letters,
// digits and "-", and temporaries begin with ".".
constexpr std::string_view journalPrefix = "_journal-";
constexpr int creationAttempts = 16;
constexpr int childExitWaitMilliseconds = 2000;

enum Kind : char { temporaryFile = 't', exchange = 'x', childProcess = 'p' };

struct Note {
    char kind = 0;
    std::string first;  // a path, or a process id
    std::string second; // the exchanged path and the output's identity, or the start time
};

struct Journal {
    std::mutex mutex;
    std::string folder;
    FileDescriptor file;
    bool hasNotes = false;
    std::size_t size = 0;     // bytes
    bool unavailable = false; // tried once and failed: the work goes on unjournaled
    std::string path;
};

Journal& journal() {
    static Journal instance;
    return instance;
}

bool isJournalName(std::string_view name) {
    return name.starts_with(journalPrefix) && isUUIDString(name.substr(journalPrefix.size()));
}

std::string record(const Note& note) {
    std::string record;
    for (const std::string_view field :
         {std::string_view(&note.kind, 1), std::string_view(note.first),
          std::string_view(note.second)}) {
        record += field;
        record += '\0';
    }
    return record;
}

// Another host may take the lock between the creation and this process's flock, find the journal
// empty and remove it: a lock only counts on a file that still has its name.
bool openJournal(Journal& state) {
    for (int attempt = 0; attempt < creationAttempts; ++attempt) {
        std::string path =
            appendingPathComponent(state.folder, std::string(journalPrefix) + randomUUIDString());
        FileDescriptor file(open(
            path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file.isOpen() && errno == EEXIST)
            continue;
        if (!file.isOpen())
            return false;
        // Where there are no locks (some network file systems), there is no journal either: one
        // that could not be told from an abandoned one would be settled under a living process.
        if (flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                continue; // another host is settling it as abandoned
            unlink(path.c_str());
            return false;
        }
        const Result<FileStatus> status = fileStatus(file);
        if (!status || status->linkCount == 0)
            continue;
        // Its name must survive a power cut as surely as the notes written into it.
        if (const FileDescriptor folder(
                open(state.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            folder.isOpen())
            fsync(folder.get());
        state.file = std::move(file);
        state.path = std::move(path);
        return true;
    }
    return false;
}

// `durable`: the note must be on storage before what it names is, which only matters for a file
// that a power cut could leave behind in a user's folder.
void write(Note note, bool durable) {
    Journal& state = journal();
    const std::lock_guard lock(state.mutex);
    if (state.folder.empty() || state.unavailable)
        return;
    if (!state.file.isOpen() && !openJournal(state)) {
        state.unavailable = true;
        return;
    }
    const std::string written = record(note);
    // One write with O_APPEND: a reader sees a note whole or not at all, and a half note at the
    // end (a reader racing the writer) is dropped by the parser.
    if (::write(state.file.get(), written.data(), written.size()) !=
        static_cast<ssize_t>(written.size()))
        return;
    state.hasNotes = true;
    state.size += written.size();
    if (durable)
        fdatasync(state.file.get());
}

bool isDecimal(std::string_view text) {
    return !text.empty() && std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

// "device:inode", as `identityText` writes it.
std::optional<FileIdentity> identityOfText(std::string_view text) {
    const std::size_t colon = text.find(':');
    FileIdentity identity;
    if (colon == std::string_view::npos || !isDecimal(text.substr(0, colon)) ||
        !isDecimal(text.substr(colon + 1)) ||
        std::from_chars(text.data(), text.data() + colon, identity.device).ec != std::errc() ||
        std::from_chars(text.data() + colon + 1, text.data() + text.size(), identity.inode).ec !=
            std::errc())
        return std::nullopt;
    return identity;
}

// What an exchange put in place of its target: the output noted before it.
std::optional<FileIdentity> exchangedOutput(const Note& note) {
    const std::size_t split = note.second.rfind('|');
    if (note.kind != exchange || split == std::string::npos)
        return std::nullopt;
    return identityOfText(std::string_view(note.second).substr(split + 1));
}

// A note as this system writes it.
bool isWellFormed(const Note& note) {
    switch (note.kind) {
    case temporaryFile:
        return !note.first.empty() && note.second.empty();
    case exchange:
        return !note.first.empty() && exchangedOutput(note);
    case childProcess:
        return isDecimal(note.first) && isDecimal(note.second);
    }
    return false;
}

struct Reading {
    std::vector<Note> notes; // the well-formed ones
    bool isWhole = true;     // nothing else: every byte is part of a well-formed note
};

Reading parse(std::string_view contents) {
    Reading reading;
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (start < contents.size()) {
        const std::size_t end = contents.find('\0', start);
        if (end == std::string_view::npos)
            break;
        fields.emplace_back(contents.substr(start, end - start));
        start = end + 1;
        if (fields.size() < 3)
            continue;
        Note note{fields[0].size() == 1 ? fields[0][0] : '\0', std::move(fields[1]),
                  std::move(fields[2])};
        fields.clear();
        if (isWellFormed(note))
            reading.notes.push_back(std::move(note));
        else
            reading.isWhole = false;
    }
    reading.isWhole = reading.isWhole && start == contents.size() && fields.empty();
    return reading;
}

std::string readAll(int descriptor) {
    std::string contents;
    char buffer[16384];
    for (off_t offset = 0;;) {
        const ssize_t count = pread(descriptor, buffer, sizeof buffer, offset);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return contents;
        contents.append(buffer, static_cast<std::size_t>(count));
        offset += count;
    }
}

// "device:inode": how a note keeps which file a path named.
std::string identityText(const FileIdentity& identity) {
    return std::to_string(identity.device) + ":" + std::to_string(identity.inode);
}

std::optional<FileStatus> ownRegularFile(const std::string& path) {
    Result<FileStatus> status = fileStatusAtPath(path);
    if (!status || !status->isOwnRegularFile())
        return std::nullopt;
    return *status;
}

// Field 22 of /proc/PID/stat: with the process id, it names one process for the machine's uptime.
std::string startTime(pid_t pid) {
    const FileDescriptor file(
        open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.isOpen())
        return {};
    const std::string contents = readAll(file.get());
    const std::size_t nameEnd = contents.rfind(')'); // the command name may hold anything
    if (nameEnd == std::string::npos)
        return {};
    // Fields are separated by single spaces from the state, field 3, on.
    std::size_t start = nameEnd + 2;
    for (int number = 3; number < 22 && start < contents.size(); ++number)
        start = contents.find(' ', start) + 1;
    if (start == 0 || start >= contents.size())
        return {};
    return contents.substr(start, contents.find(' ', start) - start);
}

// Kills the process, unless the number has been given to another since `identified` was true of
// it, and waits until it is gone: before its temporaries are removed, or it could write one again.
template <class Identified> void killProcess(pid_t pid, Identified identified) {
    const FileDescriptor process(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    // Looked at again through the descriptor's process: the number may have been reused since.
    if (!process.isOpen() || !identified())
        return;
    syscall(SYS_pidfd_send_signal, process.get(), SIGKILL, nullptr, 0);
    pollfd watch{process.get(), POLLIN, 0};
    poll(&watch, 1, childExitWaitMilliseconds);
}

void endChildProcess(const Note& note) {
    char* end = nullptr;
    const long pid = std::strtol(note.first.c_str(), &end, 10);
    if (pid <= 0 || *end != '\0' || note.second.empty())
        return;
    killProcess(pid_t(pid), [&] { return startTime(pid_t(pid)) == note.second; });
}

// A child started in the moment before its note was written has none. Its arguments name the
// output noted before it started, a name no other process has reason to hold, so processes of
// this user whose arguments name a noted temporary are ended too.
void endChildrenNamingTemporaries(const std::vector<std::string>& temporaries) {
    if (temporaries.empty())
        return;
    const Result<Directory> processes = openDirectory("/proc");
    if (!processes)
        return;
    const Result<std::vector<DirectoryEntry>> entries = directoryEntries(*processes);
    if (!entries)
        return;
    const auto namesATemporary = [&](pid_t pid) {
        const std::string folder = "/proc/" + std::to_string(pid);
        const Result<FileStatus> status = fileStatusFollowingLinks(folder);
        if (!status || !status->isOwnedByCurrentUser())
            return false;
        const FileDescriptor file(open((folder + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC));
        const std::string arguments = file.isOpen() ? readAll(file.get()) : std::string();
        for (const std::string& temporary : temporaries) {
            if (arguments.find(temporary) != std::string::npos)
                return true;
        }
        return false;
    };
    for (const DirectoryEntry& entry : *entries) {
        char* end = nullptr;
        const long pid = std::strtol(entry.name.c_str(), &end, 10);
        if (pid > 0 && *end == '\0' && pid != getpid() && namesATemporary(pid_t(pid)))
            killProcess(pid_t(pid), [&] { return namesATemporary(pid_t(pid)); });
    }
}

// Only what a dead process could have made is removed, whatever its journal says: a regular file
// of this user named as one of this system's temporaries. What the private folder holds beside
// them is for its owner to judge.
void removeTemporary(const std::string& path, const TemporaryNameRule& isTemporaryName) {
    if (isTemporaryName(lastPathComponent(path)) && ownRegularFile(path))
        unlink(path.c_str());
}

// The swap happened when the target now holds the output noted before it.
void undoHalfDoneExchange(const Note& note) {
    const std::size_t split = note.second.rfind('|');
    if (split == std::string::npos)
        return;
    const std::string target = note.second.substr(0, split);
    const std::optional<FileStatus> swapped = ownRegularFile(target);
    if (swapped && identityText(swapped->identity) == note.second.substr(split + 1) &&
        ownRegularFile(note.first))
        renameat2(AT_FDCWD, note.first.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE);
}

void settle(const std::vector<Note>& notes, const TemporaryNameRule& isTemporaryName) {
    std::vector<std::string> temporaries;
    for (const Note& note : notes) {
        if (note.kind == childProcess)
            endChildProcess(note);
        // Only a name as unique as a temporary's identifies a process, whatever the journal says.
        if (note.kind == temporaryFile && isTemporaryName(lastPathComponent(note.first)) &&
            lastPathComponent(note.first).size() > 36 + 2)
            temporaries.push_back(note.first);
    }
    endChildrenNamingTemporaries(temporaries);
    for (const Note& note : notes) {
        if (note.kind == exchange)
            undoHalfDoneExchange(note);
    }
    for (const Note& note : notes) {
        if (note.kind == temporaryFile || note.kind == exchange)
            removeTemporary(note.first, isTemporaryName);
    }
}

// What a running process holds: the files it noted, as they are now, and what its swaps put in
// their targets' place.
void addLivingNotes(const std::vector<Note>& notes, FolderSurvey& survey) {
    for (const Note& note : notes) {
        if (note.kind == childProcess)
            continue;
        survey.livingNotes.push_back(note.first);
        if (const Result<FileStatus> noted = fileStatusAtPath(note.first))
            survey.livingFiles.push_back(noted->identity);
        if (const std::optional<FileIdentity> output = exchangedOutput(note))
            survey.livingFiles.push_back(*output);
    }
}

} // namespace

void useFolder(const std::string& folder) {
    Journal& state = journal();
    const std::lock_guard lock(state.mutex);
    state.folder = folder;
}

void noteTemporaryFile(const std::string& path) {
    write({temporaryFile, path, {}}, true);
}

void noteExchange(const std::string& temporaryPath, const std::string& targetPath) {
    if (const Result<FileStatus> status = fileStatusAtPath(temporaryPath))
        write({exchange, temporaryPath, targetPath + "|" + identityText(status->identity)}, true);
}

void noteChildProcess(pid_t pid) {
    write({childProcess, std::to_string(pid), startTime(pid)}, false);
}

void forgetAll() noexcept {
    forgetAllBut({});
}

void forgetAllBut(const std::vector<std::string>& paths) noexcept {
    Journal& state = journal();
    const std::lock_guard lock(state.mutex);
    if (!state.hasNotes)
        return;
    std::string kept;
    for (const std::string& path : paths)
        kept += record({temporaryFile, path, {}});
    // Rewritten once it holds as much again as what it keeps: a process that keeps a file for long
    // rewrites its journal once for as many notes as it keeps, and the journal stays within twice
    // what is live.
    if (!kept.empty() && state.size <= 2 * kept.size())
        return;
    // A host settling the folder reads the journals under the exclusive lock, so it never finds
    // this one emptied and the kept files unclaimed.
    const FileDescriptor folder(open(state.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const FileLock rewriting(folder, FileLock::Kind::shared);
    if (ftruncate(state.file.get(), 0) != 0)
        return;
    state.hasNotes = false;
    state.size = 0;
    if (kept.empty() ||
        ::write(state.file.get(), kept.data(), kept.size()) != static_cast<ssize_t>(kept.size()))
        return;
    state.hasNotes = true;
    state.size = kept.size();
}

void close() noexcept {
    Journal& state = journal();
    const std::lock_guard lock(state.mutex);
    if (state.file.isOpen())
        unlink(state.path.c_str());
    state.file = FileDescriptor();
    state.folder.clear();
    state.hasNotes = false;
    state.size = 0;
    state.unavailable = false;
}

FolderSurvey settleAbandonedJournals(const Directory& folder,
                                     const TemporaryNameRule& isTemporaryName) {
    FolderSurvey survey;
    std::vector<std::string> journals;
    Result<std::vector<DirectoryEntry>> entries = directoryEntries(folder);
    if (!entries)
        return survey; // a folder that cannot be read holds nothing to settle
    for (DirectoryEntry& entry : *entries) {
        if (isJournalName(entry.name))
            journals.push_back(std::move(entry.name));
        else if (entry.type == FileStatus::Type::regular)
            survey.otherFiles.push_back(std::move(entry.name));
    }

    for (const std::string& name : journals) {
        const FileDescriptor file(
            openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        if (!file.isOpen())
            continue;
        const Result<FileStatus> status = fileStatus(file);
        if (!status || !status->isOwnRegularFile())
            continue;
        const bool abandoned = flock(file.get(), LOCK_EX | LOCK_NB) == 0;
        const Reading reading = parse(readAll(file.get()));
        if (!abandoned) {
            addLivingNotes(reading.notes, survey);
            continue;
        }
        // Only a file that reads whole as this system writes its journals is one: anything else
        // under such a name is neither obeyed nor removed.
        if (reading.isWhole) {
            settle(reading.notes, isTemporaryName);
            unlinkat(folder.get(), name.c_str(), 0);
        }
    }
    return survey;
}

} // namespace brindle::platform::processJournal
