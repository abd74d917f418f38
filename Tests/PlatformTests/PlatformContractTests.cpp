// What the Linux layer promises about moves, swaps, verified replacements, data copies, the process
// journal, attributes, paths, text and child processes, on real files: ext4 (the temporary folder)
// and tmpfs (/dev/shm) side by side.

#include "Platform/Attributes.h"
#include "Platform/Moves.h"
#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"
#include "Support/AttributeReadout.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <span>
#include <sstream>
#include <sys/file.h>

namespace brindle::testing {
namespace {

using namespace platform;
using Names = std::vector<std::string>;
using namespace std::string_literals;
using namespace std::chrono_literals;

int errorOf(const Result<>& result) {
    return result ? 0 : result.error().value();
}

std::string contentsOrNone(const std::string& path) {
    return exists(path) ? readFile(path) : "none";
}

constexpr const char* oneFileSystem = "/dev/shm and the temporary folder are one file system here";

// What differs between ext4 (the temporary folder) and tmpfs (/dev/shm) shows side by side.
struct TwoFileSystems : ::testing::Test {
    void SetUp() override {
        if (statusOf(disk.path()).st_dev == statusOf(shm.path()).st_dev)
            GTEST_SKIP() << oneFileSystem;
    }
    TemporaryDirectory disk, shm{"/dev/shm"};
};

// Room for attributes on ext4 is one 4 KiB block: the 10 KB attribute never fits, and the filler,
// which tmpfs lists first, leaves no room for the quarantine if copied first.
const std::pair<std::string, std::string> carried[] = {
    {"user.xdg.origin.url", "https://example.com/"},
    {"user.com.apple.metadata:kMDItemWhereFroms", std::string("bplist00\0\x01", 10)},
    {"user.com.apple.quarantine", "0081;" + std::string(251, 'q')}};

TEST(FileMoveContract, MovesWholeOrNotAtAllWithinAndAcrossFileSystems) {
    // Across file systems, replacing, an older file at the destination, the source's folder
    // read-only, the error.
    const std::tuple<const char*, bool, bool, bool, bool, int> rows[] = {
        {"rename", false, false, false, false, 0},
        {"rename onto a file", false, false, true, false, EEXIST},
        {"rename over a file", false, true, true, false, 0},
        {"copy", true, false, false, false, 0},
        {"copy onto a file", true, false, true, false, EEXIST},
        {"copy over a file", true, true, true, false, 0},
        {"copy over nothing: the swap gives way to a rename", true, true, false, false, 0},
        {"copy from a fixed folder", true, false, false, true, EACCES},
        {"copy over a file from a fixed folder", true, true, true, true, EACCES},
    };
    for (const auto& [rule, across, replace, existing, fixed, error] : rows) {
        SCOPED_TRACE(rule);
        // Side by side in world-searchable folders, for the unprivileged user.
        TemporaryDirectory from(across ? "/dev/shm" : ""), to;
        if (across && statusOf(from.path()).st_dev == statusOf(to.path()).st_dev)
            GTEST_SKIP() << oneFileSystem;
        const std::string source = from.file("clip.mp4"), destination = to.file("clip.mp4");
        writeFile(source, "new", 0640);
        const timespec times[2] = {{1500000000, 123456789}, {1600000000, 987654321}};
        ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        for (const auto& [name, value] : carried)
            setRawAttribute(source, name, value);
        for (const auto& [name, size] : {std::pair{"user.big", 10240}, {"user.zz-filler", 3900}})
            setRawAttribute(source, name, std::string(across ? size : 0, 'f'));
        if (existing)
            writeFile(destination, "old");
        chmod(from.path().c_str(), fixed ? 0555 : 0700);
        // Root passes every permission check: the move runs as nobody, the owner of the folders,
        // whose own permission bits then decide.
        const bool root = geteuid() == 0;
        for (const std::string& path : {from.path(), source, to.path()})
            EXPECT_EQ(root ? lchown(path.c_str(), 65534, 65534) : 0, 0) << path;
        EXPECT_TRUE(!root || (setegid(65534) == 0 && seteuid(65534) == 0));
        EXPECT_EQ(errorOf(replace ? replaceItem(source, destination)
                                  : moveItemWithoutReplacing(source, destination)),
                  error);
        EXPECT_TRUE(!root || (seteuid(0) == 0 && setegid(0) == 0));
        chmod(from.path().c_str(), 0700);
        // Nothing is lost either way, and no hidden copy is ever left beside the destination.
        EXPECT_EQ(contentsOrNone(source), error ? "new" : "none");
        EXPECT_EQ(contentsOrNone(destination), error ? (existing ? "old" : "none") : "new");
        EXPECT_EQ(entries(to.path()).size(), error == 0 || existing ? 1u : 0u);
        if (error != 0)
            continue;
        const struct stat status = statusOf(destination);
        EXPECT_EQ(std::pair(status.st_mode & 07777, status.st_mtim.tv_nsec),
                  std::pair(0640u, 987654321L));
        for (const auto& [name, value] : carried)
            EXPECT_EQ(rawAttribute(destination, name), value) << name;
    }
}

TEST_F(TwoFileSystems, OnlyRegularFilesAreCopiedAndSwapsNeedBothOnOneFileSystem) {
    ASSERT_EQ(mkfifo(shm.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("fifo", shm.file("link").c_str()), 0);
    for (const auto& [folder, name] : {std::pair{&disk, "a"}, {&disk, "b"}, {&shm, "c"}})
        writeFile(folder->file(name), name);
    const std::pair<Result<>, int> rows[] = {
        {moveItemWithoutReplacing(shm.file("fifo"), disk.file("fifo")), EINVAL},
        {moveItemWithoutReplacing(shm.file("link"), disk.file("link")), ELOOP},
        {moveItemWithoutReplacing(shm.file("missing"), disk.file("missing")), ENOENT},
        {exchangePaths(disk.file("a"), disk.file("b")), 0},
        {exchangePaths(disk.file("a"), disk.file("missing")), ENOENT},
        {exchangePaths(disk.file("a"), shm.file("c")), EXDEV},
        {renameExclusively(disk.file("a"), disk.file("b")), EEXIST},
        {renameExclusively(disk.file("a"), disk.file("c")), 0},
    };
    for (size_t row = 0; row < std::size(rows); ++row)
        EXPECT_EQ(errorOf(rows[row].first), rows[row].second) << row;
    EXPECT_EQ(std::pair(readFile(disk.file("b")), readFile(disk.file("c"))), std::pair("a"s, "b"s));
    EXPECT_EQ(entries(disk.path()), (Names{"b", "c"}));
}

// tmpfs to ext4 refuses the kernel's own copy (EXDEV), a destination opened for appending refuses
// sendfile (EINVAL): each must give way to the next way, and the copy end where the source does.
TEST_F(TwoFileSystems, EveryWayOfCopyingDataCopiesTheWholeSourceAndGivesWayWhenRefused) {
    std::string bytes((9 << 20) + 3, '\0'); // over one piece, not a whole number of buffers
    for (size_t index = 0; index < bytes.size(); ++index)
        bytes[index] = static_cast<char>(index * 7919 >> 5);
    writeFile(shm.file("source"), bytes);
    using enum FileDataTransfer;
    for (const auto& [first, flags] : {std::pair{kernelCopy, 0}, {kernelSend, O_APPEND}}) {
        const FileDescriptor from(open(shm.file("source").c_str(), O_RDONLY)),
            to(open(disk.file("copy").c_str(), O_WRONLY | O_CREAT | O_TRUNC | flags, 0600));
        // A larger size expected is a source that shrank after it was opened.
        EXPECT_TRUE(copyFileData(from, to, bytes.size() + 4096, first));
        EXPECT_TRUE(readFile(disk.file("copy")) == bytes) << int(first);
    }
}

// A temporary beside a target goes on every exit, but only what it can prove it made: its own
// output, or, once an exchange is committed, the target that exchange displaced.
std::string hiddenName(const std::string& target) {
    return std::string(".").append(target, target.rfind('/') + 1).append(".part");
}

// `swappedIn`: another program's file takes the target's name, then the exchange is swapped back.
enum class Step { writeOutput, leaveFolder, refuse, exchange, commit, swappedIn };

TEST(TemporaryOutput, RemovesOnlyWhatItMadeAndSwapsBackWhatFailsVerification) {
    using enum Step;
    // The steps (a reserved name for the first two, else a nameless "output"), what the target
    // holds at the end, what is left beside it.
    const std::tuple<const char*, std::vector<Step>, std::string, std::string> cases[] = {
        {"an output never exchanged goes", {writeOutput}, "target", "none"},
        {"a folder a tool left at a reserved name goes", {leaveFolder}, "target", "none"},
        {"a failed verification swaps back", {refuse}, "target", "none"},
        {"a committed exchange keeps the output in place", {exchange, commit}, "output", "none"},
        {"an exchange not committed leaves the displaced target", {exchange}, "output", "target"},
        {"another file under the name stays", {exchange, swappedIn, commit}, "target", "foreign"},
    };
    for (const char* parent : {"", "/dev/shm"}) {
        for (const auto& [rule, steps, held, left] : cases) {
            const TemporaryDirectory folder(parent);
            SCOPED_TRACE(rule + (" in " + folder.path()));
            const std::string target = folder.file("t");
            writeFile(target, "target");
            {
                const bool reserved = steps[0] == writeOutput || steps[0] == leaveFolder;
                auto output = reserved ? TemporaryOutput::reserve(target, hiddenName)
                                       : TemporaryOutput::create(target, hiddenName, 0600);
                ASSERT_TRUE(output) << output.error().message();
                ASSERT_EQ(reserved ? 6 : write(output->descriptor().get(), "output", 6), 6);
                if (steps[0] == writeOutput)
                    writeFile(output->path(), "output");
                if (steps[0] == leaveFolder)
                    ASSERT_TRUE(std::filesystem::create_directory(output->path()));
                else
                    ASSERT_TRUE(output->recordOutput());
                for (const Step step : steps) {
                    if (step == refuse || step == exchange) {
                        const auto judge = [&](const FileStatus&) { return step == exchange; };
                        EXPECT_EQ(output->exchange(judge).value(), step == exchange);
                    }
                    if (step == swappedIn) {
                        writeFile(target + ".new", "foreign");
                        std::filesystem::rename(target + ".new", target);
                        output->swapBack();
                    }
                    if (step == commit)
                        output->commit();
                }
            }
            EXPECT_EQ(readFile(target), held);
            EXPECT_EQ(contentsOrNone(folder.file(".t.part")), left);
            EXPECT_EQ(entries(folder.path()).size(), left == "none" ? 1u : 2u);
        }
    }
}

// A note as the journal writes it: kind, then two fields, each ending with NUL.
std::string note(char kind, const std::string& first, const std::string& second = "") {
    return std::string(1, kind) + '\0' + first + '\0' + second + '\0';
}

ChildProcess shell(const std::string& script, ChildProcessLaunch launch = {}) {
    launch.program = "/bin/sh";
    launch.arguments = {"-c", script};
    return std::move(ChildProcess::spawn(launch).value());
}

// Field 22 of the process's status: when it started, in clock ticks since boot.
std::string startTime(pid_t pid) {
    std::istringstream fields(readFile("/proc/" + std::to_string(pid) + "/stat"));
    std::string field;
    for (int number = 1; number <= 22; ++number)
        fields >> field;
    return field;
}

TEST(ProcessJournalContract, SettlesOnlyWholeJournalsOfDeadProcessesAndOnlyTheirTemporaries) {
    TemporaryDirectory folder, work;
    const Names all = {".brindle-folder", ".brindle-move-0123456789abcdef",
                       ".photo.0E5B1F6A-2C4D-4E8F-9A0B-1C2D3E4F5A6B.png", "photo.png",
                       "target.png"};
    const std::string uuid = all[2], move = work.file(all[1]), target = work.file(all[4]);
    const std::string journal = folder.file("_journal-1B4E28BA-2FA1-41D2-883F-0016D3CCA427");
    // The layer is told which names are temporaries by the code that makes them; these rows
    // plant names of these two forms.
    const auto settle = [&] {
        return processJournal::settleAbandonedJournals(
            *openDirectory(folder.path()), [](std::string_view name) {
                return name.starts_with(".brindle-") || name.starts_with(".photo.");
            });
    };
    // The journal (empty: a swap noted, then caught half-way), whether its lock is held, the
    // work folder afterwards (the journal stays when nothing went).
    const std::tuple<const char*, std::string, bool, Names> rows[] = {
        {"temporaries of a dead process",
         note('t', move) + note('t', work.file(uuid)) + note('t', work.file("photo.png")) +
             note('t', work.file(".brindle-folder")),
         false,
         {".brindle-folder", "photo.png", "target.png"}},
        {"the same, of a living one", note('t', move), true, all},
        {"an unknown kind", note('t', move) + note('q', move), false, all},
        {"a half note", note('t', move) + std::string("t\0", 2) + move, false, all},
        {"a note cut in its first field", note('t', move) + "t", false, all},
        {"a temporary with a second field", note('t', move, "x"), false, all},
        {"a swap without an identity", note('x', move, target), false, all},
        {"a swap caught half-way", "", false, {".brindle-folder", uuid, "photo.png", "target.png"}},
    };
    writeFile(folder.file("_journal-not-a-uuid"), note('t', move), 0600);
    for (const auto& [rule, written, living, left] : rows) {
        SCOPED_TRACE(rule);
        for (const std::string& name : std::span(all).subspan(1))
            writeFile(work.file(name), name);
        std::filesystem::create_directory(work.file(all[0]));
        std::string contents = written;
        if (contents.empty()) {
            const FileIdentity noted = fileStatusAtPath(move)->identity;
            contents = note('x', move,
                            target + "|" + std::to_string(noted.device) + ":" +
                                std::to_string(noted.inode));
            ASSERT_TRUE(exchangePaths(move, target));
        }
        writeFile(journal, contents, 0600);
        const FileDescriptor lock(open(journal.c_str(), O_RDONLY));
        ASSERT_EQ(living ? flock(lock.get(), LOCK_EX) : 0, 0);
        const auto survey = settle();
        EXPECT_EQ(entries(work.path()), left);
        EXPECT_EQ(exists(journal), left == all);
        EXPECT_EQ(std::pair(survey.otherFiles, survey.livingNotes),
                  std::pair(Names{"_journal-not-a-uuid"}, living ? Names{move} : Names{}));
        EXPECT_EQ(readFile(target), "target.png");
    }

    // A child is ended only while its number still names the process that was noted.
    for (const bool sameStart : {true, false}) {
        ChildProcess child = shell("exec sleep 600");
        const pid_t pid = child.processIdentifier();
        writeFile(journal, note('p', std::to_string(pid), startTime(pid) + (sameStart ? "" : "1")));
        settle();
        EXPECT_EQ(child.waitForExit(0ms).has_value(), sameStart);
    }

    // What the journal writes is what a later host reads: the process's own journal is living
    // until it is closed, then gone.
    processJournal::useFolder(folder.path());
    writeFile(move, "");
    processJournal::noteTemporaryFile(move);
    EXPECT_EQ(settle().livingNotes, Names{move});
    processJournal::close();
    EXPECT_EQ(entries(folder.path()), Names{"_journal-not-a-uuid"});
}
TEST_F(TwoFileSystems, RoomForAttributesDependsOnTheFileSystem) {
    for (const auto& [folder, roomForTwo] : {std::pair{&disk, false}, {&shm, true}}) {
        const FileDescriptor file(open(folder->file("file").c_str(), O_RDWR | O_CREAT, 0600));
        if (!setStoredAttribute(file, "user.probe", "x"))
            GTEST_SKIP() << folder->path() << " keeps no user attributes";
        EXPECT_TRUE(setAttribute(file, "a", std::string(3000, 'a')));
        const Result<> second = setAttribute(file, "b", std::string(3000, 'b'));
        EXPECT_EQ(bool(second), roomForTwo) << folder->path();
        EXPECT_TRUE(second || isOutOfAttributeRoom(second.error()));
        const Result<> huge = setStoredAttribute(file, "user.c", std::string(70000, 'c'));
        EXPECT_TRUE(!huge && isOutOfAttributeRoom(huge.error()));
        EXPECT_EQ(*readAttribute(file, "a"), std::string(3000, 'a'));
        EXPECT_TRUE(removeAttribute(file, "a"));
        EXPECT_TRUE(removeAttribute(file, "a"));
        EXPECT_EQ(*readStoredAttribute(file, "user.a"), std::nullopt);
    }
    EXPECT_FALSE(isOutOfAttributeRoom(errnoCode(EACCES)));
}

TEST(PathsAndText, ComponentsExtensionsWholeCharactersSpacesAndStrayBytes) {
    using Rule = std::string (*)(std::string_view);
    const std::string here = std::filesystem::current_path().string();
    // Each rule with its paths and what it makes of them, in pairs.
    const std::pair<Rule, Names> rules[] = {
        {standardizedPath,
         {"/a//b/./c/", "/a/b/c", "/../a/../../b", "/b", "a/../../b", "../b", "./", ".", "/", "/"}},
        {absoluteStandardizedPath, {"/x/../y", "/y", "a/./b", here + "/a/b"}},
        {deletingLastPathComponent, {"/a/b/c//", "/a/b", "/a", "/", "a", "."}},
        {lastPathComponent, {"/a/b/c/", "c", "/", "/", "c", "c"}},
        // ".." has no extension: see the last row of the next rule, through the same dot rule.
        {pathExtension, {"/a/photo.tar.gz", "gz", "/a.b/name", "", ".hidden", "", "dir.d/", "d"}},
        {deletingPathExtension,
         {"/a/photo.tar.gz", "/a/photo.tar", "name.", "name", "/a/..", "/a/.."}},
    };
    for (const auto& [rule, pairs] : rules)
        for (size_t index = 0; index < pairs.size(); index += 2)
            EXPECT_EQ(rule(pairs[index]), pairs[index + 1]) << pairs[index];
    EXPECT_EQ(appendingPathComponent("/a/", "b"), "/a/b");
    EXPECT_EQ(appendingPathComponent("", "b"), "/b");

    // "e" + combining acute, the French flag (two regional indicators), then "x".
    constexpr std::string_view accentFlagX = "e\xCC\x81\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7x";
    EXPECT_EQ(characterCount(accentFlagX), 3u);
    // The prefixes of 0, 1, 2, 3 and 9 characters end after these bytes.
    for (const auto& [count, bytes] : {std::pair{0, 0}, {1, 3}, {2, 11}, {3, 12}, {9, 12}})
        EXPECT_EQ(characterPrefix(accentFlagX, count), accentFlagX.substr(0, bytes));

    // Undecodable bytes (a cut sequence, a UTF-16 surrogate, a stray byte) stand for themselves;
    // U+FFFD proper is no such byte.
    EXPECT_EQ(std::tuple(isValidUTF8(accentFlagX), isValidUTF8("a\xC3"),
                         isValidUTF8("\xED\xA0\x80"), decodeScalar("\xFF", 0).isUndecodable(),
                         decodeScalar("\xEF\xBF\xBD", 0).isUndecodable()),
              std::tuple(true, false, false, true, false));
    EXPECT_EQ(characterCount("a\xFF\xFE"), 3u);
    EXPECT_EQ(lowercased("\xC3\x89T\xFF"), "\xC3\xA9t\xFF");

    EXPECT_EQ(trimmingWhitespaceAndNewlines("\xC2\xA0\t\r\n x y\xE2\x80\xA8\xC2\x85"), "x y");
    EXPECT_EQ(trimmingWhitespaceAndNewlines(" \n "), "");
    // 0xA0 and 0x85 alone are not UTF-8: they are data, not a no-break space or NEL.
    EXPECT_EQ(trimmingWhitespaceAndNewlines("\xA0x\x85"), "\xA0x\x85");
}

TEST(ChildProcess, StartsWithTheDefaultsReportsHowItEndedAndEndsOnRequest) {
    // The host ignores SIGPIPE; a tool it starts must not inherit that. That an exit code and
    // SIGKILL come back as such shows in the save panel's and the host's tests too.
    const auto previous = signal(SIGPIPE, SIG_IGN);
    for (const auto& [script, code, stop] :
         {std::tuple("exit 7", 7, 0), {"kill -PIPE $$; exit 0", -1, SIGPIPE}}) {
        const ChildExit exit = shell(script).waitForExit();
        EXPECT_EQ(std::tuple(exit.exitCode, exit.terminatingSignal, exit.succeeded()),
                  std::tuple(code, stop, false))
            << script;
    }
    signal(SIGPIPE, previous);
    ChildProcessLaunch launch;
    launch.program = "/nonexistent/tool";
    EXPECT_EQ(ChildProcess::spawn(launch).error(), std::errc::no_such_file_or_directory);

    // An environment given replaces this process's own; that the own one is inherited otherwise
    // shows in the media tools' tests, whose stand-ins read a variable those tests set.
    setenv("HOME", "/", 0);
    launch.environment = std::vector<std::string>{"ONLY=this"};
    EXPECT_TRUE(
        shell("test \"$ONLY\" = this && test -z \"$HOME\"", launch).waitForExit().succeeded());

    ChildProcess child = shell("exec sleep 600");
    EXPECT_EQ(child.waitForExit(10ms), std::nullopt);
    EXPECT_EQ(child.terminate().terminatingSignal, SIGTERM);
    EXPECT_EQ(kill(child.processIdentifier(), 0) == 0 ? 0 : errno, ESRCH);

    // A child ignoring termination is killed after the grace.
    ChildProcess stubborn = shell("trap '' TERM; echo > /dev/null; while :; do sleep 1; done");
    EXPECT_EQ(stubborn.waitForExit(50ms), std::nullopt);
    EXPECT_EQ(stubborn.terminate(100ms).terminatingSignal, SIGKILL);

    // An abandoned child is killed and reaped.
    const pid_t abandoned = shell("exec sleep 600").processIdentifier();
    EXPECT_EQ(kill(abandoned, 0) == 0 ? 0 : errno, ESRCH);
}

TEST(ChildProcess, StreamsAndPassedDescriptorsAloneGoWhereTheyAreSent) {
    TemporaryDirectory directory;
    const auto openFile = [&](const char* name, int flags, const std::string& contents = "") {
        writeFile(directory.file(name), contents);
        return FileDescriptor(open(directory.file(name).c_str(), flags | O_CLOEXEC));
    };
    const FileDescriptor one = openFile("one", O_RDONLY, "one "),
                         two = openFile("two", O_RDONLY, "two");
    // Neither a file this process holds nor a running sibling's process descriptor gets through.
    const FileDescriptor output = openFile("output", O_WRONLY), held = openFile("held", O_WRONLY);
    ChildProcess sibling = shell("exec sleep 600");
    ChildProcessLaunch launch;
    launch.standardInput = launch.standardError = ChildStream::nullDevice();
    launch.standardOutput = ChildStream::descriptor(output);
    // In the reverse order, so that each may well take the other's number in the child.
    launch.passedDescriptors = {two, one};
    const ChildExit exit = shell("test \"$(readlink /proc/$$/fd/0)\" = /dev/null && "
                                 "test \"$(readlink /proc/$$/fd/2)\" = /dev/null && "
                                 "cat /dev/fd/3 /dev/fd/4 && ls -l /proc/$$/fd",
                                 launch)
                               .waitForExit();
    EXPECT_EQ(exit.exitCode, 0);
    EXPECT_GT(exit.peakResidentKiB, 0);
    // Each file reaches the child once: the copies made on the way to the numbers given do not.
    const std::string listing = readFile(directory.file("output"));
    EXPECT_TRUE(listing.starts_with("twoone ")) << listing;
    EXPECT_EQ(listing.find("pidfd"), std::string::npos) << listing;
    for (const char* name : {"one", "two", "output", "held"}) {
        const std::string target = "-> " + directory.file(name) + "\n";
        EXPECT_EQ(listing.find(target) == std::string::npos, name == "held"s) << listing;
        EXPECT_EQ(listing.find(target), listing.rfind(target)) << listing;
    }
}

} // namespace
} // namespace brindle::testing
