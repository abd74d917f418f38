// Moves into the user's folder on real files; the moves themselves are the platform layer's.

#include "MetadataCore/DownloadDestinationMover.h"
#include "MetadataCore/DownloadDestinationMoverError.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sys/stat.h>
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
         {std::string(".."), std::string("."), std::string("../x.png"), std::string("/x"),
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

    writeFile(source, "fourth");
    mover.discard(source);
    EXPECT_FALSE(exists(source));
}

} // namespace
} // namespace brindle
