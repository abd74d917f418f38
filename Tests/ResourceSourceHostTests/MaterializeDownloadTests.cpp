// "materializeDownload" through the built host, with the real FFmpeg and streams served from the
// loopback address.

#include "Support/HostProcess.h"
#include "Support/LoopbackHTTPServer.h"
#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <boost/json/array.hpp>
#include <filesystem>
#include <gtest/gtest.h>

namespace brindle::testing {
namespace {

using boost::json::object;

TEST(MaterializeDownload, ReadsItsFieldsInOrderAndWrapsEachStage) {
    TemporaryDirectory root;
    makeStreamingFixtures(root.file("streams"));
    std::filesystem::create_directory(root.file("tools"));
    std::filesystem::create_symlink("/usr/bin/ffmpeg", root.file("tools/ffmpeg"));
    LoopbackHTTPServer server;
    server.serveFolder(root.file("streams"));
    ProcessOptions options;
    options.environment = {{"BRINDLE_TOOLS_DIR", root.file("tools")}};
    const std::string clip = root.file("clip.mp4");
    writeFile(clip, "placeholder");

    // A separate track wins over a manifest, and is the address recorded.
    const std::string video = server.url("/video.mp4");
    const object done = singleReply({{"action", "materializeDownload"},
                                     {"path", clip},
                                     {"manifestUrl", server.url("/master.m3u8")},
                                     {"mediaUrl", video},
                                     {"audioUrl", server.url("/audio.m4a")},
                                     {"mediaKind", "video"}},
                                    options);
    EXPECT_EQ(done, (object{{"ok", true}, {"urls", {video}}, {"materialized", true}}));
    EXPECT_EQ(probeMedia(clip).at("streams"), (boost::json::array{"video 640x360", "audio 44100"}));

    const auto failure = [](const char* message, std::optional<bool> retryable) {
        object reply{{"ok", false}, {"error", message}};
        if (retryable) {
            reply["stage"] = "materialize";
            reply["retryable"] = *retryable;
        }
        return reply;
    };
    const struct {
        object request;
        object reply;
    } cases[] = {
        {{{"manifestUrl", "x"}}, failure("缺少字段：path", {})},
        {{{"path", clip}, {"mediaKind", "video"}}, failure("缺少字段：manifestUrl/mediaUrl", {})},
        {{{"path", clip}, {"mediaUrl", video}, {"manifestUrl", "x"}},
         failure("缺少字段：mediaKind", false)},
        {{{"path", clip}, {"manifestUrl", "x"}}, failure("缺少字段：mediaKind", false)},
        {{{"path", clip}, {"mediaUrl", "https://a.example/v.webm"}, {"mediaKind", "video"}},
         failure("独立音视频轨道地址无效", false)},
        {{{"path", root.file("gone.mp4")}, {"mediaUrl", video}, {"mediaKind", "video"}},
         failure("下载占位文件无效", true)},
    };
    for (const auto& test : cases) {
        object request = test.request;
        request["action"] = "materializeDownload";
        EXPECT_EQ(singleReply(request, options), test.reply) << request;
    }
}

} // namespace
} // namespace brindle::testing
