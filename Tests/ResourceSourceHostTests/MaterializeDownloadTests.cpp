// "materializeDownload" through the built host, with a stand-in FFmpeg that writes "media".

#include "Support/HostProcess.h"
#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <boost/json/array.hpp>
#include <gtest/gtest.h>

namespace brindle::testing {
namespace {

using boost::json::object;

object failure(const char* message, std::optional<bool> retryable) {
    object reply{{"ok", false}, {"error", message}};
    if (retryable) {
        reply["stage"] = "materialize";
        reply["retryable"] = *retryable;
    }
    return reply;
}

TEST(MaterializeDownload, ReadsItsFieldsInOrderAndWrapsEachStage) {
    TemporaryDirectory root;
    writeFile(root.file("ffmpeg"),
              "#!/bin/sh\nif [ \"$2\" = -h ]; then echo >> \"$0.asked\"; exit 0; fi\n"
              "eval \"out=\\${$#}\"\nprintf media > \"$out\"\n",
              0755);
    writeStandInProbe(root.path());
    const ProcessOptions options{
        {}, {{"BRINDLE_TOOLS_DIR", root.path()}, {"XDG_CACHE_HOME", root.file("cache")}}};
    const std::string clip = root.file("clip.mp4");
    writeFile(clip, "placeholder");
    const std::string video = "https://cdn.example/v.mp4";
    const std::string manifest = "https://cdn.example/m.m3u8";

    // A separate track wins over a manifest, and is the address recorded.
    EXPECT_EQ(singleReply({{"action", "materializeDownload"},
                           {"path", clip},
                           {"manifestUrl", manifest},
                           {"mediaUrl", video},
                           {"mediaKind", "video"}},
                          options),
              (object{{"ok", true}, {"urls", {video}}, {"materialized", true}}));
    EXPECT_EQ(readFile(clip), "media");

    const struct {
        object request;
        object reply;
    } cases[] = {
        {{{"manifestUrl", manifest}}, failure("缺少字段：path", {})},
        {{{"path", clip}, {"mediaKind", "video"}}, failure("缺少字段：manifestUrl/mediaUrl", {})},
        {{{"path", clip}, {"mediaUrl", video}, {"manifestUrl", manifest}},
         failure("缺少字段：mediaKind", false)},
        {{{"path", clip}, {"manifestUrl", manifest}}, failure("缺少字段：mediaKind", false)},
        {{{"path", root.file("gone.mp4")}, {"manifestUrl", manifest}, {"mediaKind", "video"}},
         failure("下载占位文件无效", true)},
    };
    for (const auto& test : cases) {
        object request = test.request;
        request["action"] = "materializeDownload";
        EXPECT_EQ(singleReply(request, options), test.reply) << request;
    }
    // Which options the tool knows was asked by the first host only and remembered for the next.
    EXPECT_EQ(readFile(root.file("ffmpeg.asked")), "\n");
}

} // namespace
} // namespace brindle::testing
