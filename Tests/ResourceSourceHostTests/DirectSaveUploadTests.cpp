// The upload actions through the built host, and its staging folder at start and end.

#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

using boost::json::object;

object json(const char* text) {
    return boost::json::parse(text).as_object();
}

TEST(DirectSaveUpload, ActionsRepliesAndTheStagingFolderLeftEmpty) {
    TemporaryDirectory root;
    const std::vector<std::pair<const char*, const char*>> steps = {
        {R"({"action":"beginDirectSaveUpload","requestId":"r"})",
         R"({"ok":true,"event":"upload-ready","requestId":"r"})"},
        {R"({"action":"appendDirectSaveUpload","requestId":"r","chunkIndex":0.0,"data":"QUJD"})",
         R"({"ok":true,"event":"upload-progress","requestId":"r","chunkIndex":0,"receivedBytes":3})"},
        {R"({"action":"appendDirectSaveUpload","requestId":"r","chunkIndex":1})",
         R"({"ok":false,"error":"缺少字段：data","stage":"upload","retryable":false,"requestId":"r"})"},
        {R"({"action":"appendDirectSaveUpload","requestId":"r","chunkIndex":-1,"data":"QUJD"})",
         R"({"ok":false,"error":"缺少字段：chunkIndex","stage":"upload","retryable":false,"requestId":"r"})"},
        {R"({"action":"cancelDirectSaveUpload"})", R"({"ok":false,"error":"缺少字段：requestId"})"},
        {R"({"action":"cancelDirectSaveUpload","requestId":"r"})",
         R"({"ok":true,"event":"cancelled","requestId":"r","cancelled":true})"},
        // Left unfinished for the host's end to remove.
        {R"({"action":"beginDirectSaveUpload","requestId":"s"})",
         R"({"ok":true,"event":"upload-ready","requestId":"s"})"}};
    std::vector<object> requests;
    for (const auto& step : steps)
        requests.push_back(json(step.first));
    const auto replies =
        testing::exchange(requests, {{}, {{"BRINDLE_DIRECT_SAVE_DIR", root.file("in")}}});
    ASSERT_EQ(replies.size(), steps.size());
    for (size_t index = 0; index < steps.size(); ++index)
        EXPECT_EQ(replies[index], json(steps[index].second)) << index;
    EXPECT_TRUE(entries(root.file("in")).empty());

    // A staging folder that cannot be trusted is the host's one and final reply.
    ASSERT_EQ(symlink(root.file("in").c_str(), root.file("link").c_str()), 0);
    const auto refused = testing::exchange({json(R"({"action":"ping"})")},
                                           {{}, {{"BRINDLE_DIRECT_SAVE_DIR", root.file("link")}}});
    EXPECT_EQ(refused,
              (std::vector<object>{json(R"({"ok":false,"error":"直接保存暂存文件无效"})")}));
}

} // namespace
} // namespace brindle::testing
