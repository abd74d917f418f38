// "tagDownload", "moveDownload" and "discardDownload" through the built host, on real files.

#include "Support/AttributeReadout.h"
#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <boost/json/array.hpp>
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace brindle::testing {
namespace {

using boost::json::object;

object failure(const std::string& message, const char* stage) {
    return {{"ok", false}, {"error", message}, {"stage", stage}, {"retryable", false}};
}

bool exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

class DownloadActionTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(folder);
        writeFile(download, "downloaded");
    }

    TemporaryDirectory root;
    std::string download = root.file("image.png");
    std::string folder = root.file("Pictures");
};

TEST_F(DownloadActionTest, TagRecordsTheSourcesAndRepliesTheList) {
    EXPECT_EQ(singleReply({{"action", "tagDownload"},
                           {"path", download},
                           {"resourceUrl", "https://cdn.example/image.png"},
                           {"pageUrl", ""},
                           {"frameUrl", "https://u:p@frame.example/embed"}}),
              (object{{"ok", true}, {"urls", {"https://frame.example/embed"}}}));
    const object attributes = readAttributesIndependently(download);
    EXPECT_EQ(attributes.at("whereFroms"), (boost::json::array{"https://frame.example/embed"}));
    EXPECT_EQ(attributes.at("origin"), "https://frame.example/embed");
}

TEST_F(DownloadActionTest, TagFailuresCarryTheMetadataStage) {
    EXPECT_EQ(singleReply({{"action", "tagDownload"}, {"pageUrl", "https://example.com/"}}),
              failure("缺少字段：path", "metadata"));
    EXPECT_EQ(singleReply({{"action", "tagDownload"},
                           {"path", download},
                           {"resourceUrl", "ftp://files.example/image.png"}}),
              failure("没有可写入的 HTTP/HTTPS 来源 URL", "metadata"));
    EXPECT_EQ(singleReply({{"action", "tagDownload"},
                           {"path", root.path()},
                           {"pageUrl", "https://example.com/"}}),
              failure("拒绝修改非普通文件", "metadata"));
    EXPECT_EQ(readAttributesIndependently(download), (object{{"binary", true}}));
}

TEST_F(DownloadActionTest, MoveKeepsTheNameAndReportsConflictsUnlessOverwriteIsTrue) {
    EXPECT_EQ(
        singleReply({{"action", "moveDownload"},
                     {"path", download},
                     {"destinationDirectory", folder},
                     {"destinationFilename", ""}}),
        (object{
            {"ok", true}, {"path", folder + "/image.png"}, {"moved", true}, {"conflict", false}}));
    EXPECT_FALSE(exists(download));

    writeFile(download, "newer");
    const object conflict{
        {"ok", true}, {"path", folder + "/image.png"}, {"moved", false}, {"conflict", true}};
    // Only JSON true asks for replacement.
    EXPECT_EQ(singleReply({{"action", "moveDownload"},
                           {"path", download},
                           {"destinationDirectory", folder},
                           {"overwrite", "true"}}),
              conflict);
    EXPECT_EQ(readFile(download), "newer");
    EXPECT_EQ(readFile(folder + "/image.png"), "downloaded");

    EXPECT_EQ(
        singleReply({{"action", "moveDownload"},
                     {"path", download},
                     {"destinationDirectory", folder},
                     {"overwrite", true}}),
        (object{
            {"ok", true}, {"path", folder + "/image.png"}, {"moved", true}, {"conflict", false}}));
    EXPECT_EQ(readFile(folder + "/image.png"), "newer");
}

TEST_F(DownloadActionTest, MoveFailuresCarryTheDestinationStage) {
    EXPECT_EQ(singleReply({{"action", "moveDownload"}, {"destinationDirectory", folder}}),
              failure("缺少字段：path", "destination"));
    EXPECT_EQ(singleReply({{"action", "moveDownload"}, {"path", download}}),
              failure("缺少字段：destinationDirectory", "destination"));
    EXPECT_EQ(singleReply({{"action", "moveDownload"},
                           {"path", download},
                           {"destinationDirectory", root.file("gone")}}),
              failure("上一次保存目录已不存在或不可写", "destination"));
    EXPECT_EQ(singleReply({{"action", "moveDownload"},
                           {"path", download},
                           {"destinationDirectory", folder},
                           {"destinationFilename", "../escape.png"}}),
              failure("上一次保存目录已不存在或不可写", "destination"));
    EXPECT_EQ(readFile(download), "downloaded");
}

TEST_F(DownloadActionTest, DiscardDeletesOnceThenReportsAnInvalidSource) {
    EXPECT_EQ(singleReply({{"action", "discardDownload"}, {"path", download}}),
              (object{{"ok", true}, {"discarded", true}}));
    EXPECT_FALSE(exists(download));
    object missing = failure("待移动的下载文件无效", "destination");
    missing["requestId"] = "r7";
    EXPECT_EQ(singleReply({{"action", "discardDownload"}, {"path", download}, {"requestId", "r7"}}),
              missing);
    EXPECT_EQ(singleReply({{"action", "discardDownload"}}),
              failure("缺少字段：path", "destination"));
}

} // namespace
} // namespace brindle::testing
