// Cancellation markers: "cancelImageOptimization" through the built host, and the check and
// removal that a conversion uses, against a real marker folder.

#include "ResourceSourceHost/ImageOptimizationCancellation.h"
#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

using boost::json::object;
using Replies = std::vector<object>;

object cancelled(const std::string& requestId) {
    return {{"ok", true}, {"cancelled", true}, {"requestId", requestId}};
}

object cancelRequest(const std::string& requestId) {
    return {{"action", "cancelImageOptimization"}, {"requestId", requestId}};
}

unsigned permissions(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

/// Every entry below `root`, as paths relative to it.
std::set<std::string> tree(const std::string& root) {
    std::set<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        entries.insert(std::filesystem::relative(entry.path(), root).string());
    return entries;
}

std::string repeated(const std::string& text, int count) {
    std::string result;
    for (int i = 0; i < count; ++i)
        result += text;
    return result;
}

/// A marker folder inside a temporary folder, handed to the host and to this process.
class CancellationMarkers : public ::testing::Test {
protected:
    void SetUp() override { setenv("BRINDLE_IMAGE_CANCEL_DIR", markers.c_str(), 1); }
    void TearDown() override { unsetenv("BRINDLE_IMAGE_CANCEL_DIR"); }

    std::string marker(const std::string& requestId) const { return markers + "/" + requestId; }

    Replies send(const Replies& requests) const {
        ProcessOptions options;
        options.environment = {{"BRINDLE_IMAGE_CANCEL_DIR", markers}};
        return testing::exchange(requests, options);
    }

    TemporaryDirectory root;
    std::string markers = root.file("state/Markers");
};

TEST_F(CancellationMarkers, IdsOfUpTo128BytesOfLettersMarksAndDigitsAreMarked) {
    const std::vector<std::string> ids = {
        "img-1",
        std::string(128, 'a'),
        repeated("图", 42),        // 126 bytes
        "e\xCC\x81t\xC3\xA9-_.v2", // "e" + combining acute, "é", separators
        "\xD9\xA3\xD9\xA4",        // Arabic-Indic digits
        "\xC2\xBD",                // "½", a number that is not a decimal digit
        "...",                     // a name like any other, not the folder or its parent
    };
    Replies requests = {cancelRequest("img-1")}; // cancelling twice is fine
    Replies expected = {cancelled("img-1")};
    for (const auto& id : ids) {
        requests.push_back(cancelRequest(id));
        expected.push_back(cancelled(id));
    }
    EXPECT_EQ(send(requests), expected);
    // Private, empty markers, and nothing else in the folder.
    EXPECT_EQ(tree(markers), std::set<std::string>(ids.begin(), ids.end()));
    EXPECT_EQ(readFile(marker("img-1")), "");
    EXPECT_EQ(permissions(marker("img-1")), 0600u);
    EXPECT_EQ(permissions(markers), 0700u);
    EXPECT_EQ(permissions(root.file("state")), 0700u);
}

TEST_F(CancellationMarkers, OtherIdsAreRefusedAndTouchNothing) {
    // An empty marker folder: "." or ".." must neither remove it nor write beside it.
    std::filesystem::create_directories(markers);
    const auto before = tree(root.path());
    const std::string ids[] = {
        std::string(129, 'a'),   repeated("图", 43), "a/b", "../escape", "with space", "tab\t",
        "emoji\xF0\x9F\x98\x80", "semi;colon",       ".",   "..",
    };
    Replies requests;
    Replies expected;
    for (const auto& id : ids) {
        requests.push_back(cancelRequest(id));
        expected.push_back({{"ok", false}, {"error", "缺少字段：requestId"}, {"requestId", id}});
    }
    requests.push_back({{"action", "cancelImageOptimization"}});
    expected.push_back({{"ok", false}, {"error", "缺少字段：requestId"}});
    EXPECT_EQ(send(requests), expected);
    for (const auto& id : ids)
        removeImageOptimizationCancellationMarker(id);
    EXPECT_EQ(tree(root.path()), before);
}

TEST_F(CancellationMarkers, CheckFollowsTheMarkerAndRemovalClearsIt) {
    const auto isCancelled = imageOptimizationCancellationCheck("job-7");
    EXPECT_FALSE(isCancelled());
    ASSERT_EQ(send({cancelRequest("job-7")}), Replies{cancelled("job-7")});
    // The same check, asked again, sees the marker another process made.
    EXPECT_TRUE(isCancelled());
    removeImageOptimizationCancellationMarker("job-7");
    EXPECT_FALSE(exists(marker("job-7")));
    EXPECT_FALSE(isCancelled());
    // Removing what is not there is fine.
    removeImageOptimizationCancellationMarker("job-7");
    // Ids that cannot be marked count as cancelled.
    for (const std::string& id :
         {std::string("a/b"), std::string("with space"), std::string("."), std::string(".."),
          std::string(129, 'x'), std::string("bad\xFF"), std::string("\xE5\x9B"), std::string()})
        EXPECT_TRUE(imageOptimizationCancellationCheck(id)()) << id;
}

TEST_F(CancellationMarkers, AnExistingMarkerIsReplacedWithoutWritingThroughIt) {
    writeFile(root.file("elsewhere"), "user data");
    ASSERT_EQ(send({cancelRequest("other")}), Replies{cancelled("other")});
    ASSERT_EQ(symlink(root.file("elsewhere").c_str(), marker("linked").c_str()), 0);

    EXPECT_EQ(send({cancelRequest("linked")}), Replies{cancelled("linked")});
    EXPECT_EQ(readFile(root.file("elsewhere")), "user data");
    struct stat status {};
    ASSERT_EQ(lstat(marker("linked").c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_size, 0);
}

TEST_F(CancellationMarkers, MarkersThatCannotBeCreatedReportTheReason) {
    std::filesystem::create_directories(marker("taken"));
    writeFile(marker("taken") + "/inside", "x");
    EXPECT_EQ(send({cancelRequest("taken")}),
              (Replies{{{"ok", false},
                        {"error", "Native Messaging 输出失败：Is a directory"},
                        {"requestId", "taken"}}}));
    // No temporary file is left behind.
    EXPECT_EQ(tree(markers), (std::set<std::string>{"taken", "taken/inside"}));

    std::filesystem::remove_all(root.file("state"));
    writeFile(root.file("state"), "a file where a folder should be");
    EXPECT_EQ(send({cancelRequest("x")}),
              (Replies{{{"ok", false},
                        {"error", "无法创建文件夹“" + root.file("state") + "”：Not a directory"},
                        {"requestId", "x"}}}));
}

TEST(CancellationMarkerFolder, DefaultsToTheApplicationDataFolder) {
    TemporaryDirectory data;
    ProcessOptions options;
    options.environment = {{"BRINDLE_IMAGE_CANCEL_DIR", ""}, {"XDG_DATA_HOME", data.path()}};
    EXPECT_EQ(exchange({cancelRequest("r1")}, options), Replies{cancelled("r1")});
    EXPECT_TRUE(exists(data.file("Brindle/ImageOptimizationCancellations/r1")));
    EXPECT_EQ(permissions(data.file("Brindle")), 0700u);
}

} // namespace
} // namespace brindle::testing
