// "tagDownload", "moveDownload" and "discardDownload" through the built host, on real files; the
// writer's and the mover's rules are tested in-process.

#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace brindle::testing {
namespace {

using boost::json::object;

class DownloadAction : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(folder);
        writeFile(download, "downloaded");
    }

    TemporaryDirectory root;
    std::string download = root.file("image.png");
    std::string folder = root.file("Pictures");
    std::string moved = folder + "/image.png";
};

TEST_F(DownloadAction, TagRepliesTheRecordedSourcesOrTheMetadataStage) {
    EXPECT_EQ(singleReply({{"action", "tagDownload"},
                           {"path", download},
                           {"resourceUrl", "https://cdn.example/image.png"},
                           {"pageUrl", ""},
                           {"frameUrl", "https://u:p@frame.example/embed"}}),
              json(R"({"ok":true,"urls":["https://frame.example/embed"]})"));
    EXPECT_EQ(
        singleReply({{"action", "tagDownload"}, {"path", folder}, {"pageUrl", "https://a.b/"}}),
        json(R"({"ok":false,"error":"拒绝修改非普通文件","stage":"metadata","retryable":false})"));
}

TEST_F(DownloadAction, MoveRepliesWhereTheFileWentOrTheConflict) {
    const auto move = [&](object request) {
        request.insert(
            {{"action", "moveDownload"}, {"path", download}, {"destinationDirectory", folder}});
        return singleReply(request);
    };
    const object done{{"ok", true}, {"path", moved}, {"moved", true}, {"conflict", false}};
    EXPECT_EQ(move({{"destinationFilename", ""}}), done);
    writeFile(download, "newer");
    // Only JSON true asks for replacement.
    EXPECT_EQ(move({{"overwrite", "true"}}),
              (object{{"ok", true}, {"path", moved}, {"moved", false}, {"conflict", true}}));
    EXPECT_EQ(readFile(moved), "downloaded");
    EXPECT_EQ(move({{"overwrite", true}}), done);
    EXPECT_EQ(readFile(moved), "newer");
    EXPECT_FALSE(exists(download));
}

TEST_F(DownloadAction, DiscardDeletesOnceThenReportsAnInvalidSource) {
    EXPECT_EQ(singleReply({{"action", "discardDownload"}, {"path", download}}),
              json(R"({"ok":true,"discarded":true})"));
    EXPECT_FALSE(exists(download));
    EXPECT_EQ(singleReply({{"action", "discardDownload"}, {"path", download}, {"requestId", "r7"}}),
              json(R"({"ok":false,"stage":"destination","retryable":false,"requestId":"r7",
                        "error":"待移动的下载文件无效"})"));
}

} // namespace
} // namespace brindle::testing
