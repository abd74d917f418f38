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

object cancelled(const std::string& requestId) {
    return {{"ok", true}, {"cancelled", true}, {"requestId", requestId}};
}

object refused(const std::string& requestId) {
    return {{"ok", false}, {"error", "缺少字段：requestId"}, {"requestId", requestId}};
}

object cancelRequest(const std::string& requestId) {
    return {{"action", "cancelImageOptimization"}, {"requestId", requestId}};
}

unsigned permissions(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

bool exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

/// Every entry below `root`, as paths relative to it.
std::set<std::string> tree(const std::string& root) {
    std::set<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        entries.insert(std::filesystem::relative(entry.path(), root).string());
    return entries;
}

/// A marker folder inside a temporary folder, handed to the host and to this process.
class CancellationMarkers : public ::testing::Test {
protected:
    void SetUp() override { setenv("BRINDLE_IMAGE_CANCEL_DIR", markerDirectory().c_str(), 1); }
    void TearDown() override { unsetenv("BRINDLE_IMAGE_CANCEL_DIR"); }

    std::string markerDirectory() const { return root_.file("state/Markers"); }
    std::string marker(const std::string& requestId) const {
        return markerDirectory() + "/" + requestId;
    }

    std::vector<object> send(const std::vector<object>& requests) const {
        ProcessOptions options;
        options.environment = {{"BRINDLE_IMAGE_CANCEL_DIR", markerDirectory()}};
        return brindle::testing::exchange(requests, options);
    }

    TemporaryDirectory root_;
};

TEST_F(CancellationMarkers, CancellingCreatesAPrivateEmptyMarkerAndMayBeRepeated) {
    EXPECT_EQ(send({cancelRequest("img-1"), cancelRequest("img-1")}),
              (std::vector<object>{cancelled("img-1"), cancelled("img-1")}));
    EXPECT_EQ(readFile(marker("img-1")), "");
    EXPECT_EQ(permissions(marker("img-1")), 0600u);
    EXPECT_EQ(permissions(markerDirectory()), 0700u);
    EXPECT_EQ(permissions(root_.file("state")), 0700u);
    // Nothing but the marker is left in the folder.
    EXPECT_EQ(tree(markerDirectory()), std::set<std::string>{"img-1"});
}

TEST_F(CancellationMarkers, IdsOfUpTo128BytesOfLettersMarksAndDigitsAreAccepted) {
    const std::string longest(128, 'a');
    std::string chinese42;
    for (int i = 0; i < 42; ++i)
        chinese42 += "图";
    const std::vector<std::string> ids = {
        longest,
        chinese42,                 // 126 bytes
        "e\xCC\x81t\xC3\xA9-_.v2", // "e" + combining acute, "é", separators
        "\xD9\xA3\xD9\xA4",        // Arabic-Indic digits
        "\xC2\xBD",                // "½", a number that is not a decimal digit
        "...",                     // a name like any other, not the folder or its parent
    };
    std::vector<object> requests;
    std::vector<object> expected;
    for (const auto& id : ids) {
        requests.push_back(cancelRequest(id));
        expected.push_back(cancelled(id));
    }
    EXPECT_EQ(send(requests), expected);
    for (const auto& id : ids)
        EXPECT_TRUE(exists(marker(id))) << id;
}

TEST_F(CancellationMarkers, OtherIdsAreRefusedAsAMissingRequestId) {
    std::string chinese43;
    for (int i = 0; i < 43; ++i)
        chinese43 += "图";
    const std::vector<std::string> ids = {
        std::string(129, 'a'),   chinese43,    "a/b", "../escape", "with space", "tab\t",
        "emoji\xF0\x9F\x98\x80", "semi;colon",
    };
    std::vector<object> requests;
    std::vector<object> expected;
    for (const auto& id : ids) {
        requests.push_back(cancelRequest(id));
        expected.push_back(refused(id));
    }
    requests.push_back({{"action", "cancelImageOptimization"}});
    expected.push_back({{"ok", false}, {"error", "缺少字段：requestId"}});
    EXPECT_EQ(send(requests), expected);
    EXPECT_FALSE(exists(markerDirectory()));
    EXPECT_FALSE(exists(root_.file("escape")));
}

TEST_F(CancellationMarkers, DotIdsTouchNothingOutsideTheMarkerFolder) {
    ASSERT_EQ(send({cancelRequest("keep")}), std::vector<object>{cancelled("keep")});
    ASSERT_EQ(unlink(marker("keep").c_str()), 0);
    const auto before = tree(root_.path());

    EXPECT_EQ(send({cancelRequest("."), cancelRequest("..")}),
              (std::vector<object>{refused("."), refused("..")}));
    for (const char* id : {".", ".."})
        removeImageOptimizationCancellationMarker(id);

    // The empty marker folder and its parent are still there, and nothing new appeared.
    EXPECT_EQ(tree(root_.path()), before);
    EXPECT_TRUE(exists(markerDirectory()));
}

TEST_F(CancellationMarkers, CheckFollowsTheMarkerAndRemovalClearsIt) {
    const auto isCancelled = imageOptimizationCancellationCheck("job-7");
    EXPECT_FALSE(isCancelled());
    ASSERT_EQ(send({cancelRequest("job-7")}), std::vector<object>{cancelled("job-7")});
    // The same check, asked again, sees the marker another process made.
    EXPECT_TRUE(isCancelled());
    removeImageOptimizationCancellationMarker("job-7");
    EXPECT_FALSE(exists(marker("job-7")));
    EXPECT_FALSE(isCancelled());
    // Removing what is not there is fine.
    removeImageOptimizationCancellationMarker("job-7");
    removeImageOptimizationCancellationMarker("never-marked");
}

TEST_F(CancellationMarkers, IdsThatCannotBeMarkedCountAsCancelled) {
    for (const std::string& id : std::vector<std::string>{
             "a/b", "with space", ".", "..", std::string(129, 'x'), std::string("bad\xFF")}) {
        EXPECT_TRUE(imageOptimizationCancellationCheck(id)()) << id;
        EXPECT_FALSE(isValidCancellationMarkerName(id)) << id;
    }
    EXPECT_FALSE(isValidCancellationMarkerName(""));
    // A truncated multi-byte sequence is not UTF-8.
    EXPECT_FALSE(isValidCancellationMarkerName("\xE5\x9B"));
}

TEST_F(CancellationMarkers, AnExistingMarkerIsReplacedWithoutWritingThroughIt) {
    writeFile(root_.file("elsewhere"), "user data");
    ASSERT_EQ(send({cancelRequest("other")}), std::vector<object>{cancelled("other")});
    ASSERT_EQ(symlink(root_.file("elsewhere").c_str(), marker("linked").c_str()), 0);

    EXPECT_EQ(send({cancelRequest("linked")}), std::vector<object>{cancelled("linked")});
    EXPECT_EQ(readFile(root_.file("elsewhere")), "user data");
    struct stat status {};
    ASSERT_EQ(lstat(marker("linked").c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_size, 0);
}

TEST_F(CancellationMarkers, MarkerThatCannotBeCreatedIsAnOutputFailure) {
    ASSERT_EQ(send({cancelRequest("first")}), std::vector<object>{cancelled("first")});
    mkdir(marker("taken").c_str(), 0700);
    writeFile(marker("taken") + "/inside", "x");

    EXPECT_EQ(send({cancelRequest("taken")}),
              (std::vector<object>{{{"ok", false},
                                    {"error", "Native Messaging 输出失败：Is a directory"},
                                    {"requestId", "taken"}}}));
    // No temporary file is left behind.
    EXPECT_EQ(tree(markerDirectory()), (std::set<std::string>{"first", "taken", "taken/inside"}));
}

TEST_F(CancellationMarkers, MarkerFolderThatCannotBeCreatedReportsTheReason) {
    writeFile(root_.file("state"), "a file where a folder should be");
    EXPECT_EQ(send({cancelRequest("x")}),
              (std::vector<object>{
                  {{"ok", false},
                   {"error", "无法创建文件夹“" + root_.file("state") + "”：Not a directory"},
                   {"requestId", "x"}}}));
}

TEST(CancellationMarkerFolder, DefaultsToTheApplicationDataFolder) {
    TemporaryDirectory data;
    ProcessOptions options;
    options.environment = {{"BRINDLE_IMAGE_CANCEL_DIR", ""}, {"XDG_DATA_HOME", data.path()}};
    EXPECT_EQ(exchange({cancelRequest("r1")}, options), std::vector<object>{cancelled("r1")});
    EXPECT_TRUE(exists(data.file("Brindle/ImageOptimizationCancellations/r1")));
    EXPECT_EQ(permissions(data.file("Brindle")), 0700u);
}

} // namespace
} // namespace brindle::testing
