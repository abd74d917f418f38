#pragma once

// This process and its children: termination requests, process information and the
// environment, waits on pipes, child processes and exchanges with them, their activity, and the
// journal of what a process must not leave behind.
//
// Errors: calls that can fail return a `Result` holding the system's errno value. Once
// termination requests are deferred (`deferTerminationRequests`), every wait here (for a pipe,
// for a child) and `ChildProcess::spawn` throw `TerminationRequested` when one arrives, after
// ending the child concerned; no other call of this layer throws. The journal is best
// effort and reports nothing; `processActivity` gives nothing for a process it cannot look at.
//
// Symbolic links: a child's program path is followed as `execve` follows it; nothing else here
// names files by path but the journal, which never follows a link to a file it notes or removes.

#include "Platform/Files.h"
#include "Platform/Result.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <system_error>
#include <vector>

namespace brindle::platform {

//===--- Termination ---===//

// Chrome ends a host by closing its pipes and then sending SIGTERM; a terminal sends SIGINT or
// SIGHUP. Handled asynchronously, any of them would end the process in the middle of a step and
// leave a child running and a hidden half-file behind. Instead they are held back once there is
// something to protect: the long waits (for input, for a child, for the network) watch for them,
// and a wait that sees one throws `TerminationRequested`, which unwinds through the owners of every
// child and temporary file to the host's loop.

/// Thrown by a wait when the process has been asked to end. Deliberately not a `std::exception`:
/// no handler that turns errors into replies may catch it.
struct TerminationRequested {};

/// Holds SIGTERM, SIGINT and SIGHUP back in this thread and every thread it starts from now on;
/// again does nothing. Call on the main thread before any other thread exists.
void deferTerminationRequests();

/// Whether one of those signals has arrived (always false before `deferTerminationRequests`).
bool terminationRequested() noexcept;

/// A descriptor that polls readable once the process has been asked to end, to wait on beside
/// others; -1 before `deferTerminationRequests`.
DescriptorRef terminationDescriptor() noexcept;

void throwIfTerminationRequested();

//===--- Process information ---===//

/// The descriptors of this program's standard input and output.
inline constexpr DescriptorRef standardInputDescriptor = DescriptorRef::borrowing(0);
inline constexpr DescriptorRef standardOutputDescriptor = DescriptorRef::borrowing(1);

/// Remembers the command line so that the program can find its own executable later.
void setProgramArguments(int argc, char** argv);

/// The running program's executable path: its first argument when that is absolute, otherwise
/// what the kernel reports for /proc/self/exe.
std::string executablePath();

/// The running program's executable as the kernel knows it (/proc/self/exe), whatever path or
/// link it was started through; "" when the kernel does not say.
std::string resolvedExecutablePath();

/// Lets the allocator keep freed blocks of up to 32 MiB for the next allocation instead of giving
/// them back to the system at once. For a program that handles one large message after another
/// this spares a page fault for every page of every message, at the cost of some resident memory.
void keepFreedMemoryForReuse();

/// An environment variable's value, or nothing when it is not set.
std::optional<std::string> environmentValue(const char* name);

/// A setting given through the environment: the variable's value, or nothing when it is not set
/// or empty (an empty value leaves the default in place).
std::optional<std::string> configuredValue(const char* name);

/// This program's environment as "NAME=value" entries, with `entries` added, each replacing an
/// inherited variable of the same name.
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& entries);

//===--- Waits on pipes ---===//

// A program that talks through pipes spends its idle time waiting on them: for the next message,
// for the rest of one a writer left half-sent, for room in a pipe the reader no longer empties.
// Once termination requests are held back (see above), each of these waits also ends
// when one arrives, by throwing `TerminationRequested`; before that nothing else is watched and
// a wait returns at once, leaving the blocking read or write itself to wait.

/// Waits until `pipe` can be read without blocking, or has reached its end.
Result<> waitUntilReadable(DescriptorRef pipe);

/// Waits until `pipe` has room for a write.
Result<> waitUntilWritable(DescriptorRef pipe);

/// Reads what `input` holds, at most `capacity` bytes into `buffer`; 0 at the end of input.
/// An interrupted read is tried again.
Result<std::size_t> readSome(DescriptorRef input, char* buffer, std::size_t capacity);

/// Writes all of `bytes` to a pipe or socket, waiting for room before each write (and so ending
/// as those waits do). While termination requests are watched each write is at most as large
/// as a pipe reported writable is sure to take, so that no write blocks again. A write that
/// takes nothing is a broken pipe.
Result<> writeAllWaiting(DescriptorRef pipe, std::string_view bytes);

/// Keeps a write to a pipe whose reader has gone from ending this program: the write fails with
/// EPIPE instead, for the caller to handle.
void ignoreBrokenPipeSignals();

//===--- Child processes ---===//

/// Where one of a child's standard streams goes: this program's own, the null device, or an open
/// descriptor of this program (a file or one end of a pipe), which stays the caller's to close.
class ChildStream {
public:
    static ChildStream inherited() { return ChildStream(-1, false); }
    static ChildStream nullDevice() { return ChildStream(-1, true); }
    static ChildStream descriptor(DescriptorRef file) { return ChildStream(file.get(), false); }

    bool isInherited() const { return descriptor_ < 0 && !nullDevice_; }
    bool isNullDevice() const { return nullDevice_; }
    DescriptorRef openDescriptor() const { return DescriptorRef::borrowing(descriptor_); }

private:
    ChildStream(int descriptor, bool nullDevice)
        : descriptor_(descriptor), nullDevice_(nullDevice) {}
    int descriptor_;
    bool nullDevice_;
};

/// What to start: the program (an absolute path; no search path is used) and argv[1...].
struct ChildProcessLaunch {
    std::string program;
    std::vector<std::string> arguments;
    ChildStream standardInput = ChildStream::inherited();
    ChildStream standardOutput = ChildStream::inherited();
    ChildStream standardError = ChildStream::inherited();
    /// Open descriptors of this program that the child receives as its descriptors 3, 4, ... in
    /// this order, so that it can read a file that was opened and checked here as "/dev/fd/3"
    /// instead of opening a path that may name another file by then.
    std::vector<DescriptorRef> passedDescriptors;
    static constexpr int firstPassedDescriptorNumber = 3;
    /// "NAME=value" entries replacing the environment; nothing inherits the caller's.
    std::optional<std::vector<std::string>> environment;
    /// The most private memory (heap, stacks, writable data) the child may hold: an allocation
    /// beyond it fails. None: the limit this program has itself.
    std::optional<std::uint64_t> memoryLimitBytes;
    /// The child leads a process group of its own, and whatever it starts there is ended with it
    /// when it is terminated or killed from here.
    bool ownProcessGroup = false;
};

/// How a child ended.
struct ChildExit {
    int exitCode = -1;         // -1 when it was ended by a signal
    int terminatingSignal = 0; // 0 when it exited by itself
    long peakResidentKiB = 0;  // the child's own peak resident memory
    bool succeeded() const { return exitCode == 0; }
};

/// A running child process. It receives only its standard streams and the passed descriptors
/// (every descriptor of this program is close-on-exec), with default signal handling and an
/// empty signal mask. Its exit is watched through a process descriptor, so a wait ends the
/// moment the child does. A child still running when its owner goes away is killed and reaped,
/// never left as a zombie; and it is killed when the thread that started it ends, this program
/// killed outright included (SIGKILL leaves no time to end it). So a child is owned and waited
/// for by the thread that starts it, never handed to a longer-lived one.
class ChildProcess {
public:
    /// Starts the child; fails when the program is missing or not executable, or for want of
    /// resources. Throws `TerminationRequested` instead once this process is asked to end.
    static Result<ChildProcess> spawn(const ChildProcessLaunch& launch);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t processIdentifier() const { return pid_; }

    /// Waits at most `timeout` for the child to end; nothing when it is still running. Once this
    /// process has been asked to end, the child is terminated and reaped and the wait throws
    /// `TerminationRequested`.
    std::optional<ChildExit> waitForExit(std::chrono::milliseconds timeout);

    /// Waits for the child to end, however long it takes; ends early as the other wait does.
    ChildExit waitForExit();

    /// Asks the child to end (SIGTERM); a child that is still there after `grace` is killed.
    /// Returns once it has ended.
    ChildExit terminate(std::chrono::milliseconds grace = std::chrono::seconds(2));

    /// Kills the child at once (SIGKILL) and returns once it has ended.
    ChildExit kill();

private:
    ChildProcess(pid_t pid, FileDescriptor processDescriptor, bool leadsGroup)
        : pid_(pid), processDescriptor_(std::move(processDescriptor)), leadsGroup_(leadsGroup) {}
    // Sent to the whole group the child leads, if it leads one.
    void signal(int number) const;
    std::optional<ChildExit> reap(bool block);
    // No `timeout`: for as long as it takes.
    std::optional<ChildExit> await(std::optional<std::chrono::milliseconds> timeout,
                                   bool watchTermination);

    pid_t pid_;
    FileDescriptor processDescriptor_; // none when the kernel offers none: waits then poll
    bool leadsGroup_;
    std::optional<ChildExit> exit_;
};

//===--- Exchanges with a child ---===//

/// Bounds of one exchange with a child.
struct ChildExchangeLimits {
    /// From the moment the input is written: a child still running then is terminated.
    std::chrono::milliseconds deadline;
    /// What a child asked to end at the deadline gets before it is killed.
    std::chrono::milliseconds terminationGrace;
    /// The output is kept up to at least this many bytes (and at most one read beyond); the rest
    /// is read and dropped, so that a child that writes on and on never stalls.
    std::size_t keptOutputBytes;
};

/// How an exchange ended.
struct ChildExchange {
    /// The input could not be written to a child still there to read it; the child has been
    /// killed and nothing was read.
    std::error_code inputError;
    /// The child was still running at the deadline, and has been ended (with the process group it
    /// leads, if it leads one).
    bool timedOut = false;
    std::optional<ChildExit> exit;
    std::string standardOutput;
};

/// Starts the child with `input` on its standard input, closed after it, and its standard output
/// on a pipe (whatever `launch` says of those two streams), and collects what it writes until it
/// ends. The input is written whole before anything is read, so it must fit in a pipe (64 KiB).
/// A child that is gone before it reads the input is no error: what it wrote is its answer. A
/// child that has ended while something it started still holds the pipe is not waited for.
/// Fails as `ChildProcess::spawn` does, or for want of a pipe.
Result<ChildExchange> exchangeWithChild(ChildProcessLaunch launch, std::string_view input,
                                        const ChildExchangeLimits& limits);

//===--- A child's standard error ---===//

/// How a child ended, and the start of what it wrote to its standard error.
struct ChildRun {
    ChildExit exit;
    std::string standardError;
};

/// Starts the child with its standard error on a pipe (whatever `launch` says of that stream)
/// and waits for it to end, however long that takes. The pipe is read all along, so the child
/// never blocks on it; the first `keptBytes` are kept and the rest is dropped. Fails as
/// `ChildProcess::spawn` does.
Result<ChildRun> runKeepingStandardError(ChildProcessLaunch launch, std::size_t keptBytes);

//===--- Child activity ---===//

/// A count that moves whenever the process `pid` of this user gets on with its work: the bytes it
/// has read and written through files, and the bytes that have arrived on its TCP connections.
/// Only a change between two looks means anything. Nothing when the process cannot be looked at.
std::optional<std::uint64_t> processActivity(pid_t pid);

/// How a watched child ended.
struct WatchedExit {
    ChildExit exit;
    bool stalled = false; // killed, with its process group, for want of activity
};

/// Waits for the child to end, however long it takes while its activity moves; a child whose
/// activity stays still for `stallLimit` is killed. A child that cannot be looked at is given
/// the benefit of the doubt. Ends early, as every wait does, once this process is asked to end.
WatchedExit waitWhileActive(ChildProcess& child, std::chrono::milliseconds stallLimit);

//===--- Process journal ---===//

namespace processJournal {

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
FolderSurvey settleAbandonedJournals(const Directory& folder,
                                     const TemporaryNameRule& isTemporaryName);

} // namespace processJournal

} // namespace brindle::platform
