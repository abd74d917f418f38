// "tagDownload", "moveDownload" and "discardDownload" through the built host, on real files; the
// writer's and the mover's rules are tested in-process.

#include "Support/AttributeReadout.h"
#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <boost/json/array.hpp>
#include <gtest/gtest.h>

#include <filesystem>

namespace brindle::testing {
namespace {

using boost::json::object;

object failure(const std::string& message, const char* stage) {
    return {{"ok", false}, {"error", message}, {"stage", stage}, {"retryable", false}};
}

class DownloadActionTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(folder);
        writeFile(download, "downloaded");
    }

    object move(object request) const {
        request["action"] = "moveDownload";
        request["path"] = download;
        request["destinationDirectory"] = folder;
        return singleReply(request);
    }

    TemporaryDirectory root;
    std::string download = root.file("image.png");
    std::string folder = root.file("Pictures");
    std::string moved = folder + "/image.png";
};

TEST_F(DownloadActionTest, TagRepliesTheRecordedSourcesOrTheMetadataStage) {
    EXPECT_EQ(singleReply({{"action", "tagDownload"},
                           {"path", download},
                           {"resourceUrl", "https://cdn.example/image.png"},
                           {"pageUrl", ""},
                           {"frameUrl", "https://u:p@frame.example/embed"}}),
              (object{{"ok", true}, {"urls", {"https://frame.example/embed"}}}));
    EXPECT_EQ(readAttributesIndependently(download).at("whereFroms"),
              (boost::json::array{"https://frame.example/embed"}));
    EXPECT_EQ(singleReply({{"action", "tagDownload"},
                           {"path", root.path()},
                           {"pageUrl", "https://example.com/"}}),
              failure("拒绝修改非普通文件", "metadata"));
}

TEST_F(DownloadActionTest, MoveRepliesWhereTheFileWentOrTheConflict) {
    EXPECT_EQ(move({{"destinationFilename", "../escape.png"}}),
              failure("上一次保存目录已不存在或不可写", "destination"));
    const object done{{"ok", true}, {"path", moved}, {"moved", true}, {"conflict", false}};
    EXPECT_EQ(move({{"destinationFilename", ""}}), done);
    EXPECT_FALSE(exists(download));

    writeFile(download, "newer");
    // Only JSON true asks for replacement.
    EXPECT_EQ(move({{"overwrite", "true"}}),
              (object{{"ok", true}, {"path", moved}, {"moved", false}, {"conflict", true}}));
    EXPECT_EQ(readFile(download), "newer");
    EXPECT_EQ(readFile(moved), "downloaded");
    EXPECT_EQ(move({{"overwrite", true}}), done);
    EXPECT_EQ(readFile(moved), "newer");
}

TEST_F(DownloadActionTest, DiscardDeletesOnceThenReportsAnInvalidSource) {
    EXPECT_EQ(singleReply({{"action", "discardDownload"}, {"path", download}}),
              (object{{"ok", true}, {"discarded", true}}));
    EXPECT_FALSE(exists(download));
    object missing = failure("待移动的下载文件无效", "destination");
    missing["requestId"] = "r7";
    EXPECT_EQ(singleReply({{"action", "discardDownload"}, {"path", download}, {"requestId", "r7"}}),
              missing);
}

} // namespace
} // namespace brindle::testing
