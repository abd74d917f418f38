// Moves into the user's folder on real files, including a move to another file system.

#include "MetadataCore/DownloadDestinationMover.h"
#include "MetadataCore/DownloadDestinationMoverError.h"
#include "Platform/FileMove.h"
#include "Support/AttributeReadout.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brindle {
namespace {

using namespace testing;
using Result = DownloadDestinationMoveResult;
using Case = DownloadDestinationMoverError::Case;

class DestinationMoverTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(incoming);
        std::filesystem::create_directory(folder);
        writeFile(source, "new download");
    }

    std::optional<Case> failure(const std::string& path, const std::string& directory,
                                std::optional<std::string> filename = {},
                                bool overwrite = false) const {
        return caseOf<DownloadDestinationMoverError>(
            [&] { mover.move(path, directory, filename, overwrite); });
    }

    TemporaryDirectory root;
    std::string incoming = root.file("incoming");
    std::string folder = root.file("Downloads");
    std::string source = incoming + "/photo.png";
    DownloadDestinationMover mover;
};

TEST_F(DestinationMoverTest, UnusableSourcesFoldersAndNamesAreRefused) {
    ASSERT_EQ(symlink(source.c_str(), (incoming + "/link.png").c_str()), 0);
    ASSERT_EQ(symlink(folder.c_str(), root.file("link-to-folder").c_str()), 0);
    std::filesystem::create_directory(folder + "/folder.png");
    writeFile(root.file("target.png"), "target");
    ASSERT_EQ(symlink(root.file("target.png").c_str(), (folder + "/link.png").c_str()), 0);
    for (const std::string& path :
         {incoming + "/link.png", std::string(), std::string("incoming/photo.png"),
          std::string("~/photo.png"), "/" + std::string(8192, 'a'), incoming + "/missing.png",
          incoming}) {
        EXPECT_EQ(failure(path, folder), Case::invalidSource) << path;
        EXPECT_EQ(caseOf<DownloadDestinationMoverError>([&] { mover.discard(path); }),
                  Case::invalidSource)
            << path;
    }
    for (const std::string& directory : {root.file("link-to-folder"), root.file("missing"), source,
                                         std::string("Downloads"), std::string()})
        EXPECT_EQ(failure(source, directory), Case::invalidDestinationDirectory) << directory;
    for (const std::string& name :
         {std::string(".."), std::string("."), std::string("a/b"), std::string("/x"),
          std::string(256, 'n'), std::string("a\0b", 3), std::string()})
        EXPECT_EQ(failure(source, folder, name), Case::invalidDestinationDirectory) << name;
    // Only a regular file is replaced, never a folder or a link.
    for (const char* name : {"folder.png", "link.png"})
        EXPECT_EQ(failure(source, folder, name, true), Case::invalidDestinationDirectory) << name;
    if (geteuid() != 0) {
        chmod(folder.c_str(), 0500);
        EXPECT_EQ(failure(source, folder), Case::invalidDestinationDirectory);
        chmod(folder.c_str(), 0700);
    }
    EXPECT_EQ(readFile(root.file("target.png")), "target");
    EXPECT_EQ(entries(folder), (std::vector<std::string>{"folder.png", "link.png"}));
    EXPECT_EQ(readFile(source), "new download");
    // Without replacing, a link at the destination is just a conflict.
    EXPECT_EQ(mover.move(source, folder, "link.png", false),
              (Result{folder + "/link.png", false, true}));
    // Files of another owner are neither moved nor replaced; only root can make one.
    if (geteuid() == 0) {
        writeFile(folder + "/theirs.png", "theirs");
        ASSERT_EQ(chown((folder + "/theirs.png").c_str(), 65534, 65534), 0);
        EXPECT_EQ(failure(source, folder, "theirs.png", true), Case::invalidDestinationDirectory);
        EXPECT_EQ(readFile(folder + "/theirs.png"), "theirs");
        ASSERT_EQ(chown(source.c_str(), 65534, 65534), 0);
        EXPECT_EQ(failure(source, folder), Case::invalidSource);
        EXPECT_THROW(mover.discard(source), DownloadDestinationMoverError);
        EXPECT_EQ(readFile(source), "new download");
    }
}

TEST_F(DestinationMoverTest, MovesUnderTheGivenOrTheSourceNameOrNotAtAll) {
    // Onto itself: nothing is touched.
    const ino_t inode = statusOf(source).st_ino;
    EXPECT_EQ(mover.move(incoming + "/./photo.png", incoming, "photo.png", false),
              (Result{source, true, false}));
    EXPECT_EQ(mover.move(source, incoming, std::nullopt, true), (Result{source, true, false}));
    EXPECT_EQ(statusOf(source).st_ino, inode);

    EXPECT_EQ(mover.move(source, folder + "/./", std::nullopt, false),
              (Result{folder + "/photo.png", true, false}));
    EXPECT_EQ(readFile(folder + "/photo.png"), "new download");
    EXPECT_FALSE(exists(source));
    writeFile(source, "second");
    EXPECT_EQ(mover.move(incoming + "/../incoming/photo.png", folder, "照片 (2).png", false),
              (Result{folder + "/照片 (2).png", true, false}));
    EXPECT_EQ(readFile(folder + "/照片 (2).png"), "second");
    writeFile(source, "third");
    const std::string longest(255, 'n');
    EXPECT_EQ(mover.move(source, folder, longest, false),
              (Result{folder + "/" + longest, true, false}));

    // The mover looks for an existing file first; one that appears after that look reaches the
    // move itself, which must refuse to replace it.
    writeFile(source, "fourth");
    EXPECT_EQ(platform::moveItemWithoutReplacing(source, folder + "/photo.png").error(),
              std::errc::file_exists);
    EXPECT_EQ(readFile(folder + "/photo.png"), "new download");
    mover.discard(source);
    EXPECT_FALSE(exists(source));
}

// /dev/shm (tmpfs) and the build folder are two file systems here; a rename between them fails
// with EXDEV and the file is copied instead.
class CrossFileSystemMoveTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (statusOf("/dev/shm").st_dev == statusOf(here.path()).st_dev)
            GTEST_SKIP() << "/dev/shm and the build folder are not two file systems here";
        shm.emplace("/dev/shm");
        source = shm->file("clip.mp4");
    }

    // Room for attributes on ext4 is one 4 KiB block: the 10 KB attribute never fits, and the
    // filler, which tmpfs lists first, leaves no room for the quarantine if copied first.
    void makeSource() const {
        writeFile(source, "bytes on tmpfs", 0640);
        const timespec times[2] = {{1500000000, 123456789}, {1600000000, 987654321}};
        ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        for (const auto& [name, value] : carried)
            setRawAttribute(source, name, value);
        setRawAttribute(source, "user.big", std::string(10240, 'b'));
        setRawAttribute(source, "user.zz-filler", std::string(3900, 'f'));
    }

    // Root passes every permission check; a move that a read-only folder must stop runs as
    // nobody in a child process then.
    template <class Call> int asUnprivilegedUser(const Call& call) const {
        if (geteuid() != 0)
            return call();
        for (const std::string& path : {shm->path(), source, here.path()})
            EXPECT_EQ(lchown(path.c_str(), 65534, 65534), 0) << path;
        const pid_t child = fork();
        if (child == 0)
            _exit(setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0 ? call()
                                                                                         : 255);
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::pair<std::string, std::string> carried[3] = {
        {"user.xdg.origin.url", "https://example.com/"},
        {"user.com.apple.metadata:kMDItemWhereFroms", std::string("bplist00\0\x01", 10)},
        {"user.com.apple.quarantine", "0081;" + std::string(251, 'q')}};
    TemporaryDirectory here{std::filesystem::current_path().string()};
    std::optional<TemporaryDirectory> shm;
    std::string source;
    DownloadDestinationMover mover;
};

TEST_F(CrossFileSystemMoveTest, CopiesEverythingThenRemovesTheSource) {
    const std::string destination = here.file("clip.mp4");
    // First into an empty folder, then over an older file.
    for (const bool overwrite : {false, true}) {
        makeSource();
        if (overwrite)
            writeFile(destination, "older");
        EXPECT_EQ(mover.move(source, here.path(), std::nullopt, overwrite),
                  (Result{destination, true, false}));
        EXPECT_EQ(readFile(destination), "bytes on tmpfs");
        const struct stat status = statusOf(destination);
        EXPECT_EQ(status.st_mode & 07777, 0640u);
        EXPECT_EQ(status.st_mtim.tv_sec, 1600000000);
        EXPECT_EQ(status.st_mtim.tv_nsec, 987654321);
        for (const auto& [name, value] : carried)
            EXPECT_EQ(rawAttribute(destination, name), value) << name;
        EXPECT_FALSE(exists(source));
        EXPECT_EQ(entries(here.path()), std::vector<std::string>{"clip.mp4"});
    }
}

// A file that appears before the copy is in place wins; a source that cannot be removed (its
// folder is read-only) takes its copy back out, and an older file that the copy replaced returns.
TEST_F(CrossFileSystemMoveTest, FailedMovesLeaveBothFoldersAsTheyWere) {
    const std::string destination = here.file("clip.mp4");
    for (const auto& [overwrite, error] :
         {std::pair{false, EACCES}, {false, EEXIST}, {true, EACCES}}) {
        const bool existing = overwrite || error == EEXIST;
        makeSource();
        if (existing)
            writeFile(destination, "older");
        chmod(shm->path().c_str(), error == EACCES ? 0555 : 0700);
        EXPECT_EQ(asUnprivilegedUser([&, overwrite = overwrite] {
                      const auto moved =
                          overwrite ? platform::replaceItem(source, destination)
                                    : platform::moveItemWithoutReplacing(source, destination);
                      return moved ? 0 : moved.error().value();
                  }),
                  error);
        chmod(shm->path().c_str(), 0700);
        EXPECT_EQ(readFile(source), "bytes on tmpfs");
        EXPECT_EQ(entries(here.path()).size(), existing ? 1u : 0u); // no copy left over
        EXPECT_EQ(exists(destination) ? readFile(destination) : "none",
                  existing ? "older" : "none");
    }
}

} // namespace
} // namespace brindle
