// Moves into the user's folder on real files; the moves themselves are the platform layer's.

#include "MetadataCore/DownloadDestinationMover.h"
#include "MetadataCore/DownloadDestinationMoverError.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace brindle {
namespace {

using namespace testing;
using Result = DownloadDestinationMoveResult;
using Case = DownloadDestinationMoverError::Case;
using namespace std::string_literals;

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

    std::optional<Case> discardFailure(const std::string& path) const {
        return caseOf<DownloadDestinationMoverError>([&] { mover.discard(path); });
    }

    TemporaryDirectory root;
    std::string incoming = root.file("incoming"), folder = root.file("Downloads");
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
         {incoming + "/link.png", std::string(), "incoming/photo.png"s, "~/photo.png"s,
          "/" + std::string(8192, 'a'), incoming + "/missing.png", incoming}) {
        EXPECT_EQ(failure(path, folder), Case::invalidSource) << path;
        EXPECT_EQ(discardFailure(path), Case::invalidSource) << path;
    }
    for (const std::string& directory :
         {root.file("link-to-folder"), root.file("missing"), source, "Downloads"s, ""s})
        EXPECT_EQ(failure(source, directory), Case::invalidDestinationDirectory) << directory;
    for (const std::string& name :
         {".."s, "."s, "../x.png"s, "/x"s, std::string(256, 'n'), std::string("a\0b", 3), ""s})
        EXPECT_EQ(failure(source, folder, name), Case::invalidDestinationDirectory) << name;
    // Only a regular file is replaced, never a folder or a link.
    for (const char* name : {"folder.png", "link.png"})
        EXPECT_EQ(failure(source, folder, name, true), Case::invalidDestinationDirectory) << name;
    EXPECT_EQ(readFile(root.file("target.png")), "target");
    EXPECT_EQ(entries(folder), (std::vector<std::string>{"folder.png", "link.png"}));
    EXPECT_EQ(readFile(source), "new download");
    // Without replacing, a link at the destination is just a conflict.
    EXPECT_EQ(mover.move(source, folder, "link.png", false),
              (Result{folder + "/link.png", false, true}));
    // Root may write anywhere, but only root can make files of another owner, which are neither
    // moved nor replaced.
    if (geteuid() != 0) {
        chmod(folder.c_str(), 0500);
        EXPECT_EQ(failure(source, folder), Case::invalidDestinationDirectory);
        return;
    }
    writeFile(folder + "/theirs.png", "theirs");
    ASSERT_EQ(chown((folder + "/theirs.png").c_str(), 65534, 65534), 0);
    EXPECT_EQ(failure(source, folder, "theirs.png", true), Case::invalidDestinationDirectory);
    EXPECT_EQ(readFile(folder + "/theirs.png"), "theirs");
    ASSERT_EQ(chown(source.c_str(), 65534, 65534), 0);
    EXPECT_EQ(failure(source, folder), Case::invalidSource);
    EXPECT_EQ(discardFailure(source), Case::invalidSource);
    EXPECT_EQ(readFile(source), "new download");
}

TEST_F(DestinationMoverTest, MovesUnderTheGivenOrTheSourceNameOrNotAtAll) {
    // Onto itself: nothing is touched.
    const ino_t inode = statusOf(source).st_ino;
    EXPECT_EQ(mover.move(incoming + "/./photo.png", incoming, "photo.png", false),
              (Result{source, true, false}));
    EXPECT_EQ(mover.move(source, incoming, std::nullopt, true), (Result{source, true, false}));
    EXPECT_EQ(statusOf(source).st_ino, inode);

    const std::string longest(255, 'n');
    const std::tuple<std::string, std::optional<std::string>, std::string> moves[] = {
        {source, std::nullopt, "photo.png"},
        {incoming + "/../incoming/photo.png", "照片 (2).png", "照片 (2).png"},
        {source, longest, longest}};
    for (const auto& [from, name, landed] : moves) {
        writeFile(source, landed);
        EXPECT_EQ(mover.move(from, folder + "/./", name, false),
                  (Result{folder + "/" + landed, true, false}));
        EXPECT_EQ(readFile(folder + "/" + landed), landed);
        EXPECT_FALSE(exists(source));
    }
    writeFile(source, "fourth");
    mover.discard(source);
    EXPECT_FALSE(exists(source));
}

} // namespace
} // namespace brindle
