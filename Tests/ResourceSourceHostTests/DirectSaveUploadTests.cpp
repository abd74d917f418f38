// The upload actions through the built host, and its staging folder at start and end.

#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

using boost::json::object;

TEST(DirectSaveUpload, ActionsRepliesAndTheStagingFolderLeftEmpty) {
    TemporaryDirectory root;
    const ProcessOptions options{{}, {{"BRINDLE_DIRECT_SAVE_DIR", root.file("in")}}};
    const object missingData{{"ok", false},
                             {"error", "缺少字段：data"},
                             {"stage", "upload"},
                             {"retryable", false},
                             {"requestId", "r"}};
    object negativeIndex = missingData;
    negativeIndex["error"] = "缺少字段：chunkIndex";
    const std::vector<std::pair<object, object>> steps = {
        {{{"action", "beginDirectSaveUpload"}, {"requestId", "r"}},
         {{"ok", true}, {"event", "upload-ready"}, {"requestId", "r"}}},
        {{{"action", "appendDirectSaveUpload"},
          {"requestId", "r"},
          {"chunkIndex", 0.0},
          {"data", "QUJD"}},
         {{"ok", true},
          {"event", "upload-progress"},
          {"requestId", "r"},
          {"chunkIndex", 0},
          {"receivedBytes", 3}}},
        {{{"action", "appendDirectSaveUpload"}, {"requestId", "r"}, {"chunkIndex", 1}},
         missingData},
        {{{"action", "appendDirectSaveUpload"},
          {"requestId", "r"},
          {"chunkIndex", -1},
          {"data", "QUJD"}},
         negativeIndex},
        {{{"action", "cancelDirectSaveUpload"}}, {{"ok", false}, {"error", "缺少字段：requestId"}}},
        {{{"action", "cancelDirectSaveUpload"}, {"requestId", "r"}},
         {{"ok", true}, {"event", "cancelled"}, {"requestId", "r"}, {"cancelled", true}}},
        // Left unfinished for the host's end to remove.
        {{{"action", "beginDirectSaveUpload"}, {"requestId", "s"}},
         {{"ok", true}, {"event", "upload-ready"}, {"requestId", "s"}}},
    };
    std::vector<object> requests;
    for (const auto& step : steps)
        requests.push_back(step.first);
    const auto replies = testing::exchange(requests, options);
    ASSERT_EQ(replies.size(), steps.size());
    for (size_t index = 0; index < steps.size(); ++index)
        EXPECT_EQ(replies[index], steps[index].second) << index;
    EXPECT_TRUE(entries(root.file("in")).empty());

    // A staging folder that cannot be trusted is the host's one and final reply.
    ASSERT_EQ(symlink(root.file("in").c_str(), root.file("link").c_str()), 0);
    const auto refused = testing::exchange({{{"action", "ping"}}, {{"action", "ping"}}},
                                           {{}, {{"BRINDLE_DIRECT_SAVE_DIR", root.file("link")}}});
    EXPECT_EQ(refused, (std::vector<object>{{{"ok", false}, {"error", "直接保存暂存文件无效"}}}));
}

} // namespace
} // namespace brindle::testing
