// "materializeDownload" through the built host, with a stand-in FFmpeg that writes "media", and
// with the real one.

#include "Support/HostProcess.h"
#include "Support/LoopbackHTTPServer.h"
#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <boost/json/array.hpp>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

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
    writeFile(root.file("ffprobe"),
              "#!/bin/sh\necho '{\"streams\":[{\"index\":0,\"codec_type\":\"video\",\"nb_frames\":"
              "\"1\"}]}'\n",
              0755);
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

// A small file system of its own, unmounted when this goes.
struct SmallDisk {
    explicit SmallDisk(const std::string& path)
        : folder(path), mounted(mount("tmpfs", path.c_str(), "tmpfs", 0, "size=16k") == 0) {}
    ~SmallDisk() {
        if (mounted)
            umount2(folder.c_str(), MNT_DETACH);
    }
    std::string folder;
    bool mounted;
};

// Inputs that would lead FFmpeg off the web, and results it reports as a success that are none,
// fail retryably and leave the placeholder as it was.
TEST(MaterializeDownload, RealFFmpegRefusesForeignInputsAndUnsoundResults) {
    TemporaryDirectory root;
    const std::string streams = root.file("streams");
    for (const char* folder : {"streams", "tools", "clips", "disk"})
        std::filesystem::create_directory(root.file(folder));
    makeStreamingFixtures(streams);
    for (const std::string tool : {"ffmpeg", "ffprobe"})
        std::filesystem::create_symlink("/usr/bin/" + tool, root.file("tools/" + tool));
    // The port of the SDP's RTP stream is held here: an FFmpeg that tried it would say "bind".
    const int port = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {}, {}};
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(port, reinterpret_cast<sockaddr*>(&address), length), 0);
    getsockname(port, reinterpret_cast<sockaddr*>(&address), &length);
    writeFile(streams + "/sdp.m4a",
              "v=0\no=- 0 0 IN IP4 127.0.0.1\ns=x\nc=IN IP4 127.0.0.1\nt=0 0\n"
              "m=audio " +
                  std::to_string(ntohs(address.sin_port)) + " RTP/AVP 0\n");
    writeFile(streams + "/sdp.m3u8", "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",URI=\"sdp.m4a\"\n"
                                     "#EXT-X-STREAM-INF:AUDIO=\"a\"\nv180/index.m3u8\n");
    writeFile(streams + "/holes.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1,\nv180/s0.ts\n"
                                       "#EXTINF:1,\nv180/s1.ts\n#EXT-X-ENDLIST\n");
    LoopbackHTTPServer server;
    server.serveFolder(streams);
    const SmallDisk disk(root.file("disk"));
    const ProcessOptions options{
        {}, {{"BRINDLE_TOOLS_DIR", root.file("tools")}, {"XDG_CACHE_HOME", root.file("cache")}}};

    const std::string refused = "Protocol 'rtp' not on whitelist";
    const struct {
        object request;
        std::string says;
        std::string folder = "clips";
    } cases[] = {
        {{{"mediaUrl", server.url("/video.mp4")}, {"audioUrl", server.url("/sdp.m4a")}}, refused},
        {{{"manifestUrl", server.url("/sdp.m3u8")}}, refused},
        {{{"mediaUrl", server.url("/late.mp4")}}, "：合并结果中没有视频"}, // served without ranges
        {{{"manifestUrl", server.url("/holes.m3u8")}}, "：有分片无法下载 | [hls @ "},
        {{{"manifestUrl", server.url("/master.m3u8")}}, "：合并结果无法读取 | ", "disk"},
    };
    for (const auto& test : cases) {
        if (test.folder == "disk" && !disk.mounted)
            continue;
        const std::string clip = root.file(test.folder + "/clip.mp4");
        writeFile(clip, "placeholder");
        object request = test.request;
        request.insert({{"action", "materializeDownload"}, {"path", clip}, {"mediaKind", "video"}});
        const object reply = singleReply(request, options);
        const boost::json::value* error = reply.if_contains("error");
        const std::string message = error ? std::string(error->as_string()) : "";
        object expected = failure("", true);
        expected["error"] = message;
        EXPECT_EQ(reply, expected);
        EXPECT_TRUE(message.starts_with("FFmpeg 下载或合并流媒体失败：") &&
                    message.find(test.says) != std::string::npos)
            << message;
        EXPECT_EQ(readFile(clip), "placeholder");
        EXPECT_EQ(entries(root.file(test.folder)), std::vector<std::string>{"clip.mp4"});
    }
    close(port);
    if (!disk.mounted)
        GTEST_SKIP() << "a full disk needs a tmpfs mount, which is not permitted here";
}

} // namespace
} // namespace brindle::testing
