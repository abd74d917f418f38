#include "MetadataCore/MediaMaterializer.h"
#include "MetadataCore/MediaMaterializerError.h"
#include "MetadataCore/MediaMaterializerSteps.h"

#include "MetadataCore/BundledToolLocation.h"
#include "Support/AttributeReadout.h"
#include "Support/LoopbackHTTPServer.h"
#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <boost/json/array.hpp>
#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using namespace mediaMaterialization;
using namespace testing;
using Strings = std::vector<std::string>;

Strings linesOf(const std::string& path) {
    Strings lines;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

const std::string agent =
    "Mozilla/5.0 (Macintosh; Intel Mac OS X) AppleWebKit/537.36 Chrome/138 Safari/537.36";

TEST(StreamingManifest, AddressChecks) {
    const std::string badManifest = "HLS/DASH 播放清单地址无效";
    const std::string badTrack = "独立音视频轨道地址无效";
    const struct {
        std::string (*check)(const std::string&);
        std::string text;
        std::string expected; // the address returned, or the error's message
    } cases[] = {
        {validatedManifestURL, "HTTPS://a.example/live/INDEX.M3U8?t=1#f",
         "https://a.example/live/INDEX.M3U8?t=1#f"},
        {validatedManifestURL, "http://u:p@a.example/d.mpd", "http://a.example/d.mpd"},
        {validatedManifestURL, "ftp://a.example/a.m3u8", badManifest},
        {validatedManifestURL, "https:///a.m3u8", badManifest},
        {validatedManifestURL, "https://a.example/a.mp4", badManifest},
        {validatedManifestURL, "https://a.example/a.m3u8x?x=.m3u8", badManifest},
        {MediaMaterializer::validatedMediaTrackURL, "https://u:p@cdn.example/a.MP4?sig=1#t",
         "https://cdn.example/a.MP4?sig=1#t"},
        {MediaMaterializer::validatedMediaTrackURL, "https://cdn.example/a.m3u8", badTrack},
        {MediaMaterializer::validatedReferrerURL, "https://u:p@a.example/watch?v=1#t",
         "https://a.example/watch?v=1"},
        {MediaMaterializer::validatedReferrerURL, "file:///watch", badTrack},
    };
    for (const auto& test : cases) {
        std::string outcome;
        try {
            outcome = test.check(test.text);
        } catch (const MediaMaterializerError& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, test.expected) << test.text;
    }
}

TEST(StreamingManifest, PlaylistChoices) {
    EXPECT_EQ(hlsAttributes(R"(bandwidth= 1 ,CODECS="avc1,mp4a",AUDIO="a""b",BANDWIDTH=2)"),
              (std::map<std::string, std::string>{
                  {"BANDWIDTH", "2"}, {"CODECS", "avc1,mp4a"}, {"AUDIO", "a\"\"b"}}));
    const std::string base = "https://cdn.example/v/master.m3u8";
    const std::string stream = "#EXT-X-STREAM-INF:";
    const std::string audio = "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",";
    const struct {
        std::string playlist;
        HLSInputs expected;
    } cases[] = {
        // AVERAGE-BANDWIDTH counts before BANDWIDTH: 4.5 Mbit/s beats 5 (average 4).
        {stream + "BANDWIDTH=5000000,AVERAGE-BANDWIDTH=4000000,RESOLUTION=1280x720\na.m3u8\n" +
             stream + "BANDWIDTH=4500000,RESOLUTION=1280x720\nb.m3u8",
         {"https://cdn.example/v/b.m3u8", {}}},
        // Equals: the earliest wins.
        {stream + "BANDWIDTH=1,RESOLUTION=2x2\nfirst.m3u8\n" + stream +
             "BANDWIDTH=1,RESOLUTION=2x2\nsecond.m3u8",
         {"https://cdn.example/v/first.m3u8", {}}},
        // No usable resolution loses to any resolution, whatever the bit rate; an overflowing
        // area counts as none, and a comma inside quotes does not end the value.
        {stream + "BANDWIDTH=9000000\nnone.m3u8\n" + stream +
             "RESOLUTION=9999999999x9999999999\nhuge.m3u8\n" + stream +
             "CODECS=\"avc1,RESOLUTION=4000x4000\"\ntrap.m3u8\n" + stream +
             "RESOLUTION=320X180,BANDWIDTH=1\nsmall.m3u8",
         {"https://cdn.example/v/small.m3u8", {}}},
        // The URI comes after comments and blank lines; CR LF, a file address is skipped, ".."
        // climbs from the playlist's folder.
        {stream + "RESOLUTION=1920x1080\r\n# note\r\n\r\n file:///etc/x.m3u8\r\n" + stream +
             "RESOLUTION=640x360\r\n#c\n\n  ../up/x.m3u8?t=1  \n",
         {"https://cdn.example/up/x.m3u8?t=1", {}}},
        // A media playlist is read as it is.
        {"#EXTM3U\n#EXTINF:6,\nseg0.ts\n", {base, {}}},
        // DEFAULT=YES first, otherwise playlist order; other groups and types do not count.
        {audio + "DEFAULT=NO,URI=\"en.m3u8\"\n" + audio + "DEFAULT=yes,URI=\"fr.m3u8\"\n" +
             "#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID=\"a\",DEFAULT=YES,URI=\"s.m3u8\"\n" + stream +
             "AUDIO=\"a\"\nv.m3u8",
         {"https://cdn.example/v/v.m3u8", "https://cdn.example/v/fr.m3u8"}},
        {"#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"b\",DEFAULT=YES,URI=\"b.m3u8\"\n" + audio +
             "URI=\"en.m3u8\"\n" + audio + "URI=\"de.m3u8\"\n" + stream + "AUDIO=\"a\"\nv.m3u8",
         {"https://cdn.example/v/v.m3u8", "https://cdn.example/v/en.m3u8"}},
        {audio + "DEFAULT=YES,URI=\"fr.m3u8\"\n" + stream + "BANDWIDTH=1\nv.m3u8",
         {"https://cdn.example/v/v.m3u8", {}}},
    };
    for (const auto& test : cases)
        EXPECT_EQ(MediaMaterializer::preferredHLSInputs(test.playlist, base), test.expected)
            << test.playlist;
}

TEST(StreamingManifest, Fetching) {
    TemporaryDirectory folder;
    writeFile(folder.file("ok.m3u8"), "#EXTM3U\n");
    writeFile(folder.file("limit.m3u8"), std::string(1 << 20, '#'));
    writeFile(folder.file("over.m3u8"), std::string((1 << 20) + 1, '#'));
    writeFile(folder.file("latin1.m3u8"), "#EXTM3U\n\xE9\n");
    LoopbackHTTPServer server;
    server.serveFolder(folder.path());
    const platform::HTTPFetchLimits quick{std::chrono::milliseconds(200),
                                          std::chrono::milliseconds(400)};
    const struct {
        std::string path;
        std::optional<std::size_t> bytes;
    } cases[] = {{"/ok.m3u8", 8},          {"/missing.m3u8", {}},  {"/redirect/ok.m3u8", 8},
                 {"/limit.m3u8", 1 << 20}, {"/over.m3u8", {}},     {"/latin1.m3u8", {}},
                 {"/stall/x.m3u8", {}},    {"/trickle/x.m3u8", {}}};
    for (const auto& test : cases) {
        const auto start = std::chrono::steady_clock::now();
        const auto playlist = fetchHLSPlaylist(server.url(test.path), quick);
        EXPECT_EQ(playlist ? std::optional(playlist->size()) : std::nullopt, test.bytes)
            << test.path;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700));
    }
}

TEST(MediaMaterializer, DiagnosticsAndProxyRule) {
    EXPECT_EQ(diagnostic(""), std::nullopt);
    EXPECT_EQ(diagnostic("\n \r\n"), std::nullopt);
    EXPECT_EQ(diagnostic("one\ntwo\r\nthree\n\nfour http://a.example/x?token=S\xFF more\nhttps://\n"
                         "\"https://b.example/s.ts?sig=T\" x\n"),
              "three | four [media URL] more | https:// | \"[media URL]\" x");
    EXPECT_EQ(diagnostic(std::string(700, 'x') + "\n"), std::string(600, 'x'));

    const boost::json::object https = {
        {"HTTPSEnable", 1}, {"HTTPSProxy", "proxy.example"}, {"HTTPSPort", 8443},
        {"HTTPEnable", 0},  {"HTTPProxy", "other.example"},  {"HTTPPort", 80}};
    const Environment proxied = {{"HTTPS_PROXY", "http://proxy.example:8443"},
                                 {"HTTP_PROXY", "http://proxy.example:8443"},
                                 {"http_proxy", "http://proxy.example:8443"},
                                 {"https_proxy", "http://proxy.example:8443"}};
    EXPECT_EQ(proxyEnvironment("HTTPS", https), proxied);
    EXPECT_EQ(proxyEnvironment("http", https), Environment());
    for (const int port : {0, 65536}) {
        boost::json::object unusable = https;
        unusable["HTTPSPort"] = port;
        EXPECT_EQ(proxyEnvironment("https", unusable), Environment()) << port;
    }
    boost::json::object fallback = https;
    fallback["HTTPSProxy"] = "a/b";
    fallback["HTTPEnable"] = 1.0;
    EXPECT_EQ(proxyEnvironment("https", fallback).at("http_proxy"), "http://other.example:80");
}

// Streams served from the loopback address; tools from either the real FFmpeg or stand-ins that
// record their arguments. Capture files go to a folder of their own, to see that none is left.
class Materialization : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root = new TemporaryDirectory;
        for (const char* folder : {"streams", "real", "standin", "lone", "captures"})
            fs::create_directory(root->file(folder));
        makeStreamingFixtures(root->file("streams"));
        server = new LoopbackHTTPServer;
        server->serveFolder(root->file("streams"));
        for (const char* tool : {"ffmpeg", "ffprobe"})
            fs::create_symlink(std::string("/usr/bin/") + tool, root->file("real/") + tool);
        fs::create_symlink("/usr/bin/ffmpeg", root->file("lone/ffmpeg"));
        std::string help;
        for (std::size_t index = 0; index < reconnectGroup.size(); index += 2)
            help += "  " + reconnectGroup[index] + " <x> ...\n";
        writeFile(root->file("standin/help"), help);
        writeFile(root->file("standin/ffmpeg"),
                  "#!/bin/sh\nd=$(dirname \"$0\")\n"
                  "if [ \"$2\" = -h ]; then echo >> \"$d/asked\"; exec cat \"$d/help\"; fi\n"
                  "printf '%s\\n' \"$@\" > \"$d/arguments\"\neval \"out=\\${$#}\"\n"
                  "eval \"$STANDIN\"\nprintf media > \"$out\"\n",
                  0755);
        writeFile(root->file("standin/ffprobe"),
                  "#!/bin/sh\n[ \"$2\" = -h ] && exit 0\nd=$(dirname \"$0\")\n"
                  "printf '%s\\n' \"$@\" > \"$d/probe-arguments\"\nexec cat \"$d/probe.json\"\n",
                  0755);
        setenv("TMPDIR", root->file("captures").c_str(), 1);
    }
    static void TearDownTestSuite() {
        unsetenv("TMPDIR");
        delete server;
        delete root;
    }

    void SetUp() override {
        folder = root->file(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directory(folder);
        useTools("standin");
        unsetenv("STANDIN");
    }
    void TearDown() override {
        unsetenv(BundledToolLocation::toolsDirectoryVariable);
        EXPECT_EQ(entries(root->file("captures")), Strings{});
    }

    static void useTools(const std::string& tools) {
        setenv(BundledToolLocation::toolsDirectoryVariable, root->file(tools).c_str(), 1);
    }
    static std::string url(const std::string& path) { return server->url(path); }

    std::string placeholder(const std::string& name) const {
        const std::string path = folder + "/" + name;
        writeFile(path, "placeholder");
        setRawAttribute(path, "user.com.apple.quarantine", "0083;1;Chrome;");
        setRawAttribute(path, "user.xdg.origin.url", "https://a.example/page");
        return path;
    }

    // The stand-in's arguments, the output path replaced by what it should look like.
    Strings recordedArguments(const std::string& placeholderPath, const std::string& extension) {
        Strings lines = linesOf(root->file("standin/arguments"));
        const std::string prefix =
            folder + "/." + fs::path(placeholderPath).filename().string() + ".";
        if (!lines.empty() && lines.back().starts_with(prefix) &&
            lines.back().size() == prefix.size() + 36 + 1 + extension.size() &&
            lines.back().ends_with("." + extension))
            lines.back() = "OUTPUT";
        return lines;
    }

    static inline TemporaryDirectory* root = nullptr;
    static inline LoopbackHTTPServer* server = nullptr;
    std::string folder;
};

Strings ffmpegLine(const Strings& sources) {
    Strings line = {"-hide_banner",
                    "-nostdin",
                    "-loglevel",
                    "error",
                    "-y",
                    "-protocol_whitelist",
                    "https,http,httpproxy,tcp,tls,crypto"};
    line.insert(line.end(), reconnectGroup.begin(), reconnectGroup.end());
    line.insert(line.end(), sources.begin(), sources.end());
    line.insert(line.end(), {"-c", "copy", "-movflags", "+faststart", "-f", "mp4", "OUTPUT"});
    return line;
}

TEST_F(Materialization, CommandLines) {
    const std::string probed =
        R"({"streams":[{"index":0,"codec_type":"video","width":1280,"height":720},
        {"index":1,"codec_type":"video","width":1920,"height":1080,"bit_rate":"1"},
        {"index":2,"codec_type":"audio","bit_rate":"128000"},{"codec_type":"video"}]})";
    const std::string audioOnly =
        R"({"streams":[{"index":0,"codec_type":"audio","bit_rate":"64000"},
        {"index":1,"codec_type":"audio","bit_rate":"+96000"},{"index":2,"codec_type":"data"}]})";
    const std::string mpd = url("/dash/manifest.mpd");
    const std::string video = url("/video.mp4");
    const std::string sound = url("/audio.m4a");
    const std::string page = "https://a.example/watch?v=1";
    const struct {
        std::string kind;
        std::function<void(const std::string& path, const std::string& kind)> run;
        Strings sources;
        std::string probe = "";
    } cases[] = {
        {"video",
         [&](auto& path, auto& kind) {
             MediaMaterializer().materialize(path, url("/master.m3u8"), kind);
         },
         {"-i", url("/v360/index.m3u8"), "-i", url("/a44/index.m3u8"), "-map", "0:v:0", "-map",
          "1:a:0?"}},
        {"audio",
         [&](auto& path, auto& kind) {
             MediaMaterializer().materialize(path, url("/master.m3u8"), kind);
         },
         {"-i", url("/v360/index.m3u8"), "-i", url("/a44/index.m3u8"), "-map", "1:a:0"}},
        {"video",
         [&](auto& path, auto& kind) {
             MediaMaterializer().materialize(path, video, sound, kind, page + "#t");
         },
         {"-user_agent", agent, "-referer", page, "-i", video, "-user_agent", agent, "-referer",
          page, "-i", sound, "-map", "0:v:0", "-map", "1:a:0?"}},
        {"audio",
         [&](auto& path, auto& kind) {
             MediaMaterializer().materialize(path, sound, {}, kind, {});
         },
         {"-user_agent", agent, "-i", sound, "-map", "0:a:0"}},
        {"video",
         [&](auto& path, auto& kind) { MediaMaterializer().materialize(path, mpd, kind); },
         {"-i", mpd, "-map", "0:1", "-map", "0:2"},
         probed},
        {"audio",
         [&](auto& path, auto& kind) { MediaMaterializer().materialize(path, mpd, kind); },
         {"-i", mpd, "-map", "0:1"},
         audioOnly},
    };
    for (const auto& test : cases) {
        writeFile(root->file("standin/probe.json"), test.probe);
        const std::string path = placeholder("clip");
        test.run(path, test.kind);
        EXPECT_EQ(recordedArguments(path, test.kind == "audio" ? "m4a" : "mp4"),
                  ffmpegLine(test.sources));
        EXPECT_EQ(readFile(path), "media");
        EXPECT_EQ(rawAttribute(path, "user.com.apple.quarantine"), "0083;1;Chrome;");
        EXPECT_EQ(entries(folder), Strings{"clip"});
    }
    Strings probeLine = {"-v", "error", "-protocol_whitelist",
                         "https,http,httpproxy,tcp,tls,crypto"};
    probeLine.insert(probeLine.end(), reconnectGroup.begin(), reconnectGroup.end());
    probeLine.insert(
        probeLine.end(),
        {"-show_entries", "stream=index,codec_type,width,height,bit_rate", "-of", "json", mpd});
    EXPECT_EQ(linesOf(root->file("standin/probe-arguments")), probeLine);

    // Asked once in this process; FFmpeg 5.1 knows all but the last two reconnect options.
    EXPECT_EQ(readFile(root->file("standin/asked")), "\n");
    const Strings older(reconnectGroup.begin(), reconnectGroup.end() - 4);
    EXPECT_EQ(reconnectOptions("/usr/bin/ffmpeg"), older);
    EXPECT_EQ(reconnectOptions("/usr/bin/ffprobe"), older);
}

TEST_F(Materialization, Failures) {
    const std::string mpd = url("/dash/manifest.mpd");
    const std::string track = url("/video.mp4");
    const auto fromTrack = [&](const std::string& kind) {
        return [&, kind](const std::string& path) {
            MediaMaterializer().materialize(path, track, {}, kind, {});
        };
    };
    const auto fromDASH = [&](const std::string& path) {
        MediaMaterializer().materialize(path, mpd, "video");
    };
    const struct {
        std::string tools;
        std::string standin; // run by the stand-in ffmpeg before it writes its output
        std::string probe;
        std::function<void(const std::string& path)> run;
        std::string message;
        std::string left = "placeholder";
    } cases[] = {
        {"standin", "", "", fromTrack("Video"), "流媒体类型无效"},
        {"captures", "", "", fromTrack("video"), "未找到 FFmpeg，无法把分片视频合并为完整文件"},
        {"lone", "", "", fromDASH, "未找到 FFmpeg，无法把分片视频合并为完整文件"},
        {"standin", "", R"({"streams":{}})", fromDASH,
         "无法读取流媒体的画质信息：FFprobe 返回的数据格式无效"},
        {"standin", "", R"({"streams":[{"index":0,"codec_type":"audio"}]})", fromDASH,
         "播放清单中没有可合并的媒体轨道"},
        {"standin",
         "printf x > \"$out\"; printf '1\\n2\\n3\\n4\\n5\\nGET "
         "https://c.example/s.ts?token=SECRET: "
         "403\\n' >&2; exit 1",
         "", fromTrack("video"), "FFmpeg 下载或合并流媒体失败：3 | 4 | 5 | GET [media URL] 403"},
        {"standin", "exit 0", "", fromTrack("video"), "FFmpeg 下载或合并流媒体失败"},
        {"standin", "d=$(dirname \"$out\"); printf other > \"$d/new\"; mv \"$d/new\" \"$d/clip\"",
         "", fromTrack("video"), "保存目标在合并期间发生变化，已停止替换", "other"},
    };
    for (const auto& test : cases) {
        useTools(test.tools);
        setenv("STANDIN", test.standin.c_str(), 1);
        writeFile(root->file("standin/probe.json"), test.probe);
        const std::string path = placeholder("clip");
        EXPECT_EQ(messageOf<MediaMaterializerError>([&] { test.run(path); }), test.message);
        EXPECT_EQ(readFile(path), test.left) << test.message;
        EXPECT_EQ(entries(folder), Strings{"clip"}) << test.message;
    }

    // FFmpeg's and ffprobe's own errors reach the user without the address and its token.
    useTools("real");
    const std::string path = placeholder("clip");
    const std::string video = messageOf<MediaMaterializerError>([&] {
        MediaMaterializer().materialize(path, url("/missing.mp4?token=SECRET"), {}, "video", {});
    });
    const std::string probe = messageOf<MediaMaterializerError>(
        [&] { MediaMaterializer().materialize(path, url("/missing.mpd?token=SECRET"), "video"); });
    EXPECT_TRUE(video.starts_with("FFmpeg 下载或合并流媒体失败：")) << video;
    EXPECT_TRUE(probe.starts_with("无法读取流媒体的画质信息：")) << probe;
    for (const std::string& message : {video, probe}) {
        EXPECT_NE(message.find("[media URL] Server returned 404 Not Found"), std::string::npos);
        EXPECT_EQ(message.find("SECRET"), std::string::npos);
    }

    fs::create_symlink(path, folder + "/link");
    fs::create_directory(folder + "/folder");
    ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0600), 0);
    for (const std::string& target : {folder + "/link", folder + "/folder", folder + "/fifo",
                                      folder + "/missing", std::string("clip")})
        EXPECT_EQ(messageOf<MediaMaterializerError>(
                      [&] { MediaMaterializer().materialize(target, track, {}, "video", {}); }),
                  "下载占位文件无效")
            << target;
    EXPECT_EQ(readFile(path), "placeholder");
}

TEST_F(Materialization, RealStreams) {
    useTools("real");
    const std::string page = "https://a.example/watch";
    const struct {
        std::function<void(const std::string& path)> run;
        boost::json::array streams;
    } cases[] = {
        {[](auto& path) { MediaMaterializer().materialize(path, url("/master.m3u8"), "video"); },
         {"video 640x360", "audio 44100"}},
        {[](auto& path) { MediaMaterializer().materialize(path, url("/master.m3u8"), "audio"); },
         {"audio 44100"}},
        {[](auto& path) {
             MediaMaterializer().materialize(path, url("/v180/index.m3u8"), "video");
         },
         {"video 320x180"}},
        {[](auto& path) {
             MediaMaterializer().materialize(path, url("/dash/manifest.mpd"), "video");
         },
         {"video 640x360", "audio 44100"}},
        {[&](auto& path) {
             MediaMaterializer().materialize(path, url("/video.mp4"), url("/audio.m4a"), "video",
                                             page);
         },
         {"video 640x360", "audio 44100"}},
        {[](auto& path) {
             MediaMaterializer().materialize(path, url("/audio.m4a"), {}, "audio", {});
         },
         {"audio 44100"}},
    };
    for (const auto& test : cases) {
        const std::string path = folder + "/clip";
        writeFile(path, "placeholder");
        test.run(path);
        EXPECT_EQ(probeMedia(path), (boost::json::object{{"format", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                         {"streams", test.streams}}));
        EXPECT_EQ(rawAttribute(path, "user.com.apple.quarantine"), std::nullopt);
        EXPECT_EQ(entries(folder), Strings{"clip"});
    }
}

} // namespace
} // namespace brindle
