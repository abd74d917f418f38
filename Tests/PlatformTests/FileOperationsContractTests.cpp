// What the Linux layer promises about moves, swaps, the process journal, attributes and paths, on
// real files: ext4 (the temporary folder) and tmpfs (/dev/shm) side by side.

#include "Platform/Attributes.h"
#include "Platform/Files.h"
#include "Platform/Moves.h"
#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"
#include "Support/AttributeReadout.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

// The layer is told which names are temporaries by the code that makes them; these tables plant
// names of these two forms.
bool isOurTemporary(std::string_view name) {
    return name.starts_with(".brindle-") || name.starts_with(".photo.");
}

using namespace platform;

bool sameFileSystem(const std::string& first, const std::string& second) {
    return statusOf(first).st_dev == statusOf(second).st_dev;
}

int errorOf(const Result<>& result) {
    return result ? 0 : result.error().value();
}

// Root passes every permission check: a move that a read-only folder must stop runs as nobody.
int asUnprivilegedUser(const std::vector<std::string>& paths, const std::function<int()>& call) {
    if (geteuid() != 0)
        return call();
    for (const std::string& path : paths)
        EXPECT_EQ(lchown(path.c_str(), 65534, 65534), 0) << path;
    const pid_t child = fork();
    if (child == 0)
        _exit(setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0 ? call()
                                                                                     : 255);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct MoveRow {
    const char* name;
    bool acrossFileSystems;
    bool replace;
    bool existing;          // an older file at the destination
    bool sourceFolderFixed; // the source's folder is read-only
    int error;
};

// Room for attributes on ext4 is one 4 KiB block: the 10 KB attribute never fits, and the filler,
// which tmpfs lists first, leaves no room for the quarantine if copied first.
const std::pair<std::string, std::string> carried[] = {
    {"user.xdg.origin.url", "https://example.com/"},
    {"user.com.apple.metadata:kMDItemWhereFroms", std::string("bplist00\0\x01", 10)},
    {"user.com.apple.quarantine", "0081;" + std::string(251, 'q')}};

TEST(FileMoveContract, MovesWholeOrNotAtAllWithinAndAcrossFileSystems) {
    const bool twoFileSystems = !sameFileSystem(TemporaryDirectory().path(), "/dev/shm");
    const MoveRow rows[] = {
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
    for (const MoveRow& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.acrossFileSystems && !twoFileSystems)
            GTEST_SKIP() << "/dev/shm and the temporary folder are one file system here";
        // Side by side in world-searchable folders, for the unprivileged user.
        TemporaryDirectory from(row.acrossFileSystems ? "/dev/shm" : ""), to;
        const std::string source = from.file("clip.mp4"), destination = to.file("clip.mp4");
        writeFile(source, "new", 0640);
        const timespec times[2] = {{1500000000, 123456789}, {1600000000, 987654321}};
        ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        for (const auto& [name, value] : carried)
            setRawAttribute(source, name, value);
        for (const auto& [name, size] : {std::pair{"user.big", 10240}, {"user.zz-filler", 3900}})
            setRawAttribute(source, name, std::string(row.acrossFileSystems ? size : 0, 'f'));
        if (row.existing)
            writeFile(destination, "old");
        chmod(from.path().c_str(), row.sourceFolderFixed ? 0555 : 0700);
        EXPECT_EQ(asUnprivilegedUser({from.path(), source, to.path()},
                                     [&] {
                                         return errorOf(
                                             row.replace
                                                 ? replaceItem(source, destination)
                                                 : moveItemWithoutReplacing(source, destination));
                                     }),
                  row.error);
        chmod(from.path().c_str(), 0700);
        // No hidden copy is ever left beside the destination.
        EXPECT_EQ(entries(to.path()).size(), row.error == 0 || row.existing ? 1u : 0u);
        if (row.error != 0) {
            EXPECT_EQ(readFile(source), "new");
            EXPECT_EQ(exists(destination) ? readFile(destination) : "none",
                      row.existing ? "old" : "none");
            continue;
        }
        EXPECT_FALSE(exists(source));
        EXPECT_EQ(readFile(destination), "new");
        const struct stat status = statusOf(destination);
        EXPECT_EQ(status.st_mode & 07777, 0640u);
        EXPECT_EQ(status.st_mtim.tv_nsec, 987654321);
        for (const auto& [name, value] : carried)
            EXPECT_EQ(rawAttribute(destination, name), value) << name;
    }
}

TEST(FileMoveContract, OnlyRegularFilesAreCopiedAndSwapsNeedBothOnOneFileSystem) {
    TemporaryDirectory disk, shm("/dev/shm");
    if (sameFileSystem(disk.path(), shm.path()))
        GTEST_SKIP() << "/dev/shm and the temporary folder are one file system here";
    ASSERT_EQ(mkfifo(shm.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("fifo", shm.file("link").c_str()), 0);
    writeFile(disk.file("a"), "a");
    writeFile(disk.file("b"), "b");
    writeFile(shm.file("c"), "c");
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
    EXPECT_EQ(readFile(disk.file("b")), "a");
    EXPECT_EQ(readFile(disk.file("c")), "b");
    EXPECT_EQ(entries(disk.path()), (std::vector<std::string>{"b", "c"}));
}

// A note as the journal writes it: kind, then two fields, each ending with NUL.
std::string note(char kind, const std::string& first, const std::string& second = "") {
    return std::string(1, kind) + '\0' + first + '\0' + second + '\0';
}

std::string identity(const std::string& path) {
    const struct stat status = statusOf(path);
    return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

std::string startTime(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::string field = stat.substr(stat.rfind(')') + 2);
    for (int number = 3; number < 22; ++number)
        field = field.substr(field.find(' ') + 1);
    return field.substr(0, field.find(' '));
}

struct JournalRow {
    const char* name;
    std::function<std::string()> journal; // its contents, made when the row runs
    bool living;                          // its lock is held
    std::vector<std::string> left;        // the work folder afterwards
    bool journalLeft;
};

TEST(ProcessJournalContract, SettlesOnlyWholeJournalsOfDeadProcessesAndOnlyTheirTemporaries) {
    TemporaryDirectory folder, work;
    const std::string uuid = ".photo.0E5B1F6A-2C4D-4E8F-9A0B-1C2D3E4F5A6B.png";
    const auto temporaries = [&] {
        for (const char* name : {".brindle-move-0123456789abcdef", "photo.png", "target.png"})
            writeFile(work.file(name), name);
        writeFile(work.file(uuid), "converted");
        std::filesystem::create_directory(work.file(".brindle-folder"));
    };
    const std::string move = work.file(".brindle-move-0123456789abcdef");
    const std::vector<std::string> all = {".brindle-folder", ".brindle-move-0123456789abcdef", uuid,
                                          "photo.png", "target.png"};
    const std::vector<std::string> kept = {".brindle-folder", "photo.png", "target.png"};
    const JournalRow rows[] = {
        {"temporaries of a dead process",
         [&] {
             return note('t', move) + note('t', work.file(uuid)) +
                    note('t', work.file("photo.png")) + note('t', work.file(".brindle-folder"));
         },
         false, kept, false},
        {"the same, of a living one", [&] { return note('t', move); }, true, all, true},
        {"an unknown kind", [&] { return note('t', move) + note('q', move); }, false, all, true},
        {"a half note", [&] { return note('t', move) + std::string("t\0", 2) + move; }, false, all,
         true},
        {"a note cut in its first field", [&] { return note('t', move) + "t"; }, false, all, true},
        {"a temporary with a second field", [&] { return note('t', move, "x"); }, false, all, true},
        {"a swap without an identity", [&] { return note('x', move, work.file("target.png")); },
         false, all, true},
        {"a swap caught half-way",
         [&] {
             const std::string swap =
                 note('x', move, work.file("target.png") + "|" + identity(move));
             EXPECT_TRUE(exchangePaths(move, work.file("target.png")));
             return swap;
         },
         false,
         {".brindle-folder", uuid, "photo.png", "target.png"},
         false},
    };
    for (const JournalRow& row : rows) {
        SCOPED_TRACE(row.name);
        temporaries();
        const std::string journal = folder.file("_journal-1B4E28BA-2FA1-41D2-883F-0016D3CCA427");
        writeFile(journal, row.journal(), 0600);
        writeFile(folder.file("_journal-not-a-uuid"), note('t', move), 0600);
        const FileDescriptor lock(open(journal.c_str(), O_RDONLY));
        ASSERT_EQ(row.living ? flock(lock.get(), LOCK_EX) : 0, 0);
        const Directory directory(
            FileDescriptor(open(folder.path().c_str(), O_RDONLY | O_DIRECTORY)));
        const auto survey = processJournal::settleAbandonedJournals(directory, isOurTemporary);
        EXPECT_EQ(entries(work.path()), row.left);
        EXPECT_EQ(exists(journal), row.journalLeft);
        EXPECT_EQ(survey.otherFiles, std::vector<std::string>{"_journal-not-a-uuid"});
        EXPECT_EQ(survey.livingNotes,
                  row.living ? std::vector<std::string>{move} : std::vector<std::string>{});
        EXPECT_EQ(readFile(work.file("target.png")), "target.png");
        std::filesystem::remove_all(work.path());
        std::filesystem::create_directory(work.path());
        std::filesystem::remove(journal);
    }

    // A child is ended only while its number still names the process that was noted.
    for (const bool sameStart : {true, false}) {
        const pid_t child = fork();
        if (child == 0) {
            pause();
            _exit(0);
        }
        const std::string start = startTime(child);
        writeFile(folder.file("_journal-1B4E28BA-2FA1-41D2-883F-0016D3CCA427"),
                  note('p', std::to_string(child), sameStart ? start : start + "1"));
        const Directory directory(
            FileDescriptor(open(folder.path().c_str(), O_RDONLY | O_DIRECTORY)));
        processJournal::settleAbandonedJournals(directory, isOurTemporary);
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, WNOHANG), sameStart ? child : 0);
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }

    // What the journal writes is what a later host reads: the process's own journal is living
    // until it is closed, then gone.
    processJournal::useFolder(folder.path());
    temporaries();
    processJournal::noteTemporaryFile(move);
    const Directory directory(FileDescriptor(open(folder.path().c_str(), O_RDONLY | O_DIRECTORY)));
    EXPECT_EQ(processJournal::settleAbandonedJournals(directory, isOurTemporary).livingNotes,
              std::vector<std::string>{move});
    processJournal::close();
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"_journal-not-a-uuid"});
}

TEST(AttributeContract, RoomDependsOnTheFileSystem) {
    TemporaryDirectory disk, shm("/dev/shm");
    if (sameFileSystem(disk.path(), shm.path()))
        GTEST_SKIP() << "/dev/shm and the temporary folder are one file system here";
    for (const auto& [folder, roomForTwo] : {std::pair{&disk, false}, {&shm, true}}) {
        const std::string path = folder->file("file");
        writeFile(path, "");
        const FileDescriptor file(open(path.c_str(), O_RDWR));
        if (!setStoredAttribute(file, "user.probe", "x"))
            GTEST_SKIP() << folder->path() << " keeps no user attributes";
        EXPECT_TRUE(setAttribute(file, "a", std::string(3000, 'a')));
        const Result<> second = setAttribute(file, "b", std::string(3000, 'b'));
        EXPECT_EQ(bool(second), roomForTwo) << folder->path();
        EXPECT_TRUE(second || isOutOfAttributeRoom(second.error()));
        const Result<> huge = setStoredAttribute(file, "user.c", std::string(70000, 'c'));
        ASSERT_FALSE(huge);
        EXPECT_TRUE(isOutOfAttributeRoom(huge.error())) << huge.error().message();
        EXPECT_EQ(*readAttribute(file, "a"), std::string(3000, 'a'));
        EXPECT_EQ(*readAttribute(file, "missing"), std::nullopt);
        EXPECT_TRUE(removeAttribute(file, "a"));
        EXPECT_TRUE(removeAttribute(file, "a"));
        EXPECT_EQ(*readStoredAttribute(file, "user.a"), std::nullopt);
    }
    EXPECT_FALSE(isOutOfAttributeRoom(errnoCode(EACCES)));

    writeFile(disk.file("from"), "");
    writeFile(disk.file("to"), "");
    setRawAttribute(disk.file("from"), "user.xdg.origin.url", "https://a.example/");
    const FileDescriptor from(open(disk.file("from").c_str(), O_RDONLY));
    const FileDescriptor to(open(disk.file("to").c_str(), O_RDWR));
    EXPECT_EQ(copyAttribute("user.xdg.origin.url", from, disk.file("to")), true);
    EXPECT_EQ(copyAttribute("user.missing", from, to), false);
    EXPECT_EQ(rawAttribute(disk.file("to"), "user.xdg.origin.url"), "https://a.example/");
    const std::string_view marks[] = {"com.apple.quarantine"};
    EXPECT_EQ(carriedAttributeNames(marks),
              (std::vector<std::string>{"user.com.apple.quarantine", "user.xdg.origin.url",
                                        "user.xdg.referrer.url"}));
}

TEST(PathContract, ComponentsAndExtensionsWithoutTouchingTheDisk) {
    using Rule = std::string (*)(std::string_view);
    const std::tuple<Rule, std::string, std::string> rows[] = {
        {standardizedPath, "/a//b/./c/", "/a/b/c"},
        {standardizedPath, "/../a/../../b", "/b"},
        {standardizedPath, "a/../../b", "../b"},
        {standardizedPath, "./", "."},
        {standardizedPath, "/", "/"},
        {absoluteStandardizedPath, "/x/../y", "/y"},
        {deletingLastPathComponent, "/a/b/c//", "/a/b"},
        {deletingLastPathComponent, "/a", "/"},
        {deletingLastPathComponent, "a", "."},
        {lastPathComponent, "/a/b/c/", "c"},
        {lastPathComponent, "/", "/"},
        {lastPathComponent, "c", "c"},
        {pathExtension, "/a/photo.tar.gz", "gz"},
        {pathExtension, "/a.b/name", ""},
        {pathExtension, ".hidden", ""},
        {pathExtension, "..", ""},
        {pathExtension, "name.", ""},
        {pathExtension, "dir.d/", "d"},
        {deletingPathExtension, "/a/photo.tar.gz", "/a/photo.tar"},
        {deletingPathExtension, "/a/.hidden", "/a/.hidden"},
        {deletingPathExtension, "name.", "name"},
        {deletingPathExtension, "/", "/"},
        {deletingPathExtension, "/a/..", "/a/.."},
    };
    for (const auto& [rule, path, expected] : rows)
        EXPECT_EQ(rule(path), expected) << path;
    EXPECT_EQ(absoluteStandardizedPath("a/./b"), std::filesystem::current_path().string() + "/a/b");
    EXPECT_EQ(appendingPathComponent("/a/", "b"), "/a/b");
    EXPECT_EQ(appendingPathComponent("", "b"), "/b");
}

} // namespace
} // namespace brindle::testing
