#include "MediaMaterializerSteps.h"
#include "MetadataCore/MediaMaterializer.h"
#include "MetadataCore/MediaMaterializerError.h"

#include "MetadataCore/BundledToolLocation.h"
#include "Support/AttributeReadout.h"
#include "Support/LoopbackHTTPServer.h"
#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using namespace mediaMaterialization;
using namespace testing;
using Strings = std::vector<std::string>;
using Call = std::function<void(const std::string& path)>;
using std::nullopt;
using namespace std::chrono_literals;

Call manifest(const std::string& url, const std::string& kind, MediaToolLimits limits = {}) {
    return [=](const std::string& path) { MediaMaterializer{limits}.materialize(path, url, kind); };
}

Call tracks(const std::string& media, const std::optional<std::string>& audio,
            const std::string& kind, const std::optional<std::string>& referrer = nullopt,
            MediaToolLimits limits = {}) {
    return [=](const std::string& path) {
        MediaMaterializer{limits}.materialize(path, media, audio, kind, referrer);
    };
}

Strings join(std::initializer_list<Strings> parts) {
    Strings joined;
    for (const Strings& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

Strings linesOf(const std::string& path) {
    Strings lines;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

TEST(StreamingManifest, AddressChecks) {
    const std::string manifestError = "HLS/DASH 播放清单地址无效";
    const std::string trackError = "独立音视频轨道地址无效";
    const auto track = MediaMaterializer::validatedMediaTrackURL;
    const auto referrer = MediaMaterializer::validatedReferrerURL;
    const struct {
        std::string (*check)(const std::string&);
        std::string text;
        std::string expected; // the address returned, or the error's message
    } cases[] = {
        {validatedManifestURL, "HTTPS://a.example/INDEX.M3U8?t=1#f",
         "https://a.example/INDEX.M3U8?t=1#f"},
        {validatedManifestURL, "http://u:p@a.example/d.mpd", "http://a.example/d.mpd"},
        {validatedManifestURL, "ftp://a.example/a.m3u8", manifestError},
        {validatedManifestURL, "https:///a.m3u8", manifestError},
        {validatedManifestURL, "https://a.example/a.mp4?x=.m3u8", manifestError},
        {track, "https://u:p@cdn.example/a.MP4?sig=1#t", "https://cdn.example/a.MP4?sig=1#t"},
        {track, "https://cdn.example/a.m3u8", trackError},
        {referrer, "https://u:p@a.example/watch?v=1#t", "https://a.example/watch?v=1"},
        {referrer, "file:///watch", trackError},
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
    const std::string in = "https://cdn.example/v/";
    const std::string stream = "#EXT-X-STREAM-INF:";
    const std::string audio = "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",";
    const struct {
        std::string playlist;
        HLSInputs expected;
    } cases[] = {
        // AVERAGE-BANDWIDTH counts before BANDWIDTH: 4.5 Mbit/s beats 5 (average 4).
        {stream + "BANDWIDTH=5000000,AVERAGE-BANDWIDTH=4000000,RESOLUTION=1280x720\na.m3u8\n" +
             stream + "BANDWIDTH=4500000,RESOLUTION=1280x720\nb.m3u8",
         {in + "b.m3u8", nullopt}},
        {stream + "BANDWIDTH=1,RESOLUTION=2x2\nfirst.m3u8\n" + stream +
             "BANDWIDTH=1,RESOLUTION=2x2\nlast",
         {in + "first.m3u8", nullopt}},
        // No usable resolution (none, overflowing, or only inside a quoted value) loses to any.
        {stream + "BANDWIDTH=9000000\nn.m3u8\n" + stream + "RESOLUTION=9999999999x9999999999\nh\n" +
             stream + "CODECS=\"avc1,RESOLUTION=4000x4000\"\nt\n" + stream +
             "RESOLUTION=320X180\ns",
         {in + "s", nullopt}},
        // The URI follows comments and blank lines; a file address is skipped; ".." climbs.
        {stream + "RESOLUTION=1920x1080\r\n# c\r\n\r\n file:///x.m3u8\r\n" + stream +
             "RESOLUTION=640x360\r\n#c\n\n  ../up/x.m3u8?t=1  \n",
         {"https://cdn.example/up/x.m3u8?t=1", nullopt}},
        {"#EXTM3U\n#EXTINF:6,\nseg0.ts\n", {base, nullopt}},
        // DEFAULT=YES first, then playlist order; other groups and types do not count, nor does
        // audio for a variant without AUDIO.
        {audio + "DEFAULT=NO,URI=\"en\"\n" + audio + "DEFAULT=yes,URI=\"fr\"\n" +
             "#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID=\"a\",DEFAULT=YES,URI=\"s\"\n" + stream +
             "AUDIO=\"a\"\nv",
         {in + "v", in + "fr"}},
        {"#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"b\",DEFAULT=YES,URI=\"b\"\n" + audio + "URI=\"en\"\n" +
             audio + "URI=\"de\"\n" + stream + "AUDIO=\"a\"\nv",
         {in + "v", in + "en"}},
        {audio + "DEFAULT=YES,URI=\"fr\"\n" + stream + "BANDWIDTH=1\nv", {in + "v", nullopt}},
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
    const std::pair<std::string, std::optional<std::size_t>> cases[] = {
        {"/ok.m3u8", 8},          {"/missing.m3u8", nullopt}, {"/redirect/x.m3u8?/ok.m3u8", 8},
        {"/limit.m3u8", 1 << 20}, {"/over.m3u8", nullopt},    {"/latin1.m3u8", nullopt},
        {"/stall/x", nullopt},    {"/trickle/x", nullopt}};
    for (const auto& [path, bytes] : cases) {
        const auto start = std::chrono::steady_clock::now();
        const auto playlist = fetchHLSPlaylist(server.url(path), quick);
        EXPECT_EQ(playlist ? std::optional(playlist->body.size()) : nullopt, bytes) << path;
        // Addresses in a playlist are relative to where the fetch ended.
        EXPECT_TRUE(!playlist ||
                    playlist->finalURL ==
                        server.url(path.starts_with("/redirect/") ? "/ok.m3u8" : path));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700));
    }
}

TEST(MediaMaterializer, DiagnosticsAndProxyRule) {
    EXPECT_EQ(diagnostic("\n \r\n"), nullopt);
    EXPECT_EQ(diagnostic("1\n2\r\n3\n\n[hls @ 0x5a] four hTTp://a.example/x?token=S\xFF more\n"
                         "https:// @ 0x1\n\"HTTPS://b.example/s.ts?q='<1>'&sig=T\" x\n"),
              "3 | [hls] four [media URL] more | https:// @ 0x1 | \"[media URL] x");
    EXPECT_EQ(diagnostic(std::string(700, 'x') + "\n"), std::string(600, 'x'));

    const boost::json::object settings = {{"HTTPSEnable", 1},         {"HTTPSProxy", "p.example"},
                                          {"HTTPSPort", 8443},        {"HTTPEnable", 0},
                                          {"HTTPProxy", "q.example"}, {"HTTPPort", 80}};
    const std::string proxy = "http://p.example:8443";
    EXPECT_EQ(proxyEnvironment("HTTPS", settings), (Environment{{"HTTPS_PROXY", proxy},
                                                                {"HTTP_PROXY", proxy},
                                                                {"http_proxy", proxy},
                                                                {"https_proxy", proxy}}));
    EXPECT_EQ(proxyEnvironment("http", settings), Environment());
    for (const auto& [key, value] : {std::pair("HTTPSPort", 0), {"HTTPSPort", 65536}}) {
        boost::json::object unusable = settings;
        unusable[key] = value;
        EXPECT_EQ(proxyEnvironment("https", unusable), Environment()) << value;
    }
    boost::json::object fallback = settings;
    fallback["HTTPSProxy"] = "a/b";
    fallback["HTTPEnable"] = 1.0;
    EXPECT_EQ(proxyEnvironment("https", fallback).at("http_proxy"), "http://q.example:80");
}

// Streams served from the loopback address; tools from the real FFmpeg, or stand-ins that record
// their arguments and run $STANDIN before writing. Capture files go to a folder of their own, so
// that one left behind shows.
class Materialization : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root = new TemporaryDirectory;
        for (const char* folder :
             {"streams", "real", "standin", "lone", "captures", "disk", "probe"})
            fs::create_directory(root->file(folder));
        makeStreamingFixtures(root->file("streams"));
        // A master behind a redirect into its own folder, masters that name themselves, one whose
        // audio is an SDP text, and a playlist whose second segment is missing.
        const std::string variant = "#EXT-X-STREAM-INF:BANDWIDTH=1,AUDIO=\"a\"\n";
        const std::string rendition = "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",URI=";
        writeFile(root->file("streams/v360/master.m3u8"), variant + "index.m3u8\n");
        writeFile(root->file("streams/self.m3u8"), variant + "self.m3u8#v\n");
        writeFile(root->file("streams/loop.m3u8"), rendition + "loop.m3u8\n" + variant + "v\n");
        writeFile(root->file("streams/sdp.m3u8"),
                  rendition + "sdp.m4a\n" + variant + "v180/index.m3u8");
        writeFile(root->file("streams/holes.m3u8"),
                  "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1,\nv180/s0.ts\n#EXTINF:1,\nv180/"
                  "s1.ts\n#EXT-X-ENDLIST\n");
        server = new LoopbackHTTPServer;
        server->serveFolder(root->file("streams"));
        for (const std::string tool : {"real/ffmpeg", "real/ffprobe", "lone/ffmpeg"})
            fs::create_symlink("/usr/bin/" + tool.substr(5), root->file(tool));
        std::string help;
        for (std::size_t index = 0; index < reconnectGroup.size(); index += 2)
            help += "  " + reconnectGroup[index] + " <int> ...\n";
        writeFile(root->file("standin/help"), help);
        writeFile(root->file("standin/ffmpeg"),
                  "#!/bin/sh\nd=$(dirname \"$0\")\n"
                  "if [ \"$2\" = -h ]; then echo >> \"$d/asked\"; exec cat \"$d/help\"; fi\n"
                  "printf '%s\\n' \"$@\" > \"$d/arguments\"\neval \"out=\\${$#}\"\n"
                  "eval \"$STANDIN\"\nprintf media > \"$out\"\n",
                  0755);
        writeStandInProbe(root->file("probe"));
        writeFile(root->file("standin/ffprobe"),
                  "#!/bin/sh\n[ \"$2\" = -h ] && exit 0\nd=$(dirname \"$0\")\n"
                  "[ \"$4\" = file ] && exec \"$d/../probe/ffprobe\"\n" // reading the result back
                  "printf '%s\\n' \"$@\" > \"$d/probe-arguments\"\nexec cat \"$d/probe.json\"\n",
                  0755);
        setenv("TMPDIR", root->file("captures").c_str(), 1);
        setenv("XDG_CACHE_HOME", root->file("cache").c_str(), 1);
    }
    static void TearDownTestSuite() {
        unsetenv("TMPDIR");
        unsetenv("XDG_CACHE_HOME");
        delete server;
        delete root;
    }
    void SetUp() override {
        folder = root->file(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directory(folder);
        useTools("standin");
    }
    void TearDown() override {
        unsetenv(BundledToolLocation::toolsDirectoryVariable);
        unsetenv("STANDIN");
        EXPECT_EQ(entries(root->file("captures")), Strings{});
    }

    static void useTools(const std::string& tools, const std::string& standin = "",
                         const std::string& probe = "") {
        setenv(BundledToolLocation::toolsDirectoryVariable, root->file(tools).c_str(), 1);
        setenv("STANDIN", standin.c_str(), 1);
        writeFile(root->file("standin/probe.json"), probe);
    }
    static std::string url(const std::string& path) { return server->url(path); }

    std::string placeholder() const {
        writeFile(folder + "/clip", "placeholder");
        setRawAttribute(folder + "/clip", "user.com.apple.quarantine", "0083;1;Chrome;");
        return folder + "/clip";
    }

    static Strings recordedArguments() { return linesOf(root->file("standin/arguments")); }

    static inline TemporaryDirectory* root = nullptr;
    static inline LoopbackHTTPServer* server = nullptr;
    std::string folder;
};

TEST_F(Materialization, CommandLines) {
    const std::string probed = R"({"streams":[{"index":0,"codec_type":"video","width":1280,
        "height":720},{"index":1,"codec_type":"video","width":1920,"height":1080,"bit_rate":"1"},
        {"index":2,"codec_type":"audio","bit_rate":"128000"},{"codec_type":"video"}]})";
    const std::string audioOnly = R"({"streams":[{"index":0,"codec_type":"audio","bit_rate":"64"},
        {"index":1,"codec_type":"audio","bit_rate":"+96"},{"index":2,"codec_type":"data"}]})";
    const std::string mpd = url("/dash/manifest.mpd");
    const std::string variant = url("/v360/index.m3u8");
    const std::string rendition = url("/a44/index.m3u8");
    const std::string video = url("/video.mp4");
    const std::string sound = url("/audio.m4a");
    const std::string page = "https://a.example/watch?v=1";
    const std::string agent =
        "Mozilla/5.0 (Macintosh; Intel Mac OS X) AppleWebKit/537.36 Chrome/138 Safari/537.36";
    const Strings protocols = {"-protocol_whitelist", "https,http,httpproxy,tcp,tls,crypto"};
    // Every input names its protocols and reconnects, and nothing but its own options follow.
    const auto input = [&](const std::string& address, const Strings& options = {}) {
        return join({protocols, reconnectGroup, options, {"-i", address}});
    };
    const Strings referred = {"-user_agent", agent, "-referer", page};
    const struct {
        Call run;
        Strings sources;
        std::string probe = "";
    } cases[] = {
        {manifest(url("/master.m3u8"), "video"),
         join({input(variant), input(rendition), {"-map", "0:v:0", "-map", "1:a:0?"}})},
        {manifest(url("/master.m3u8"), "audio"),
         join({input(variant), input(rendition), {"-map", "1:a:0"}})},
        {tracks(video, sound, "video", page + "#t"), join({input(video, referred),
                                                           input(sound, referred),
                                                           {"-map", "0:v:0", "-map", "1:a:0?"}})},
        {tracks(sound, nullopt, "audio"),
         join({input(sound, {"-user_agent", agent}), {"-map", "0:a:0"}})},
        {manifest(mpd, "video"), join({input(mpd), {"-map", "0:1", "-map", "0:2"}}), probed},
        {manifest(mpd, "audio"), join({input(mpd), {"-map", "0:1"}}), audioOnly},
    };
    for (const auto& test : cases) {
        useTools("standin", "", test.probe);
        const std::string path = placeholder();
        test.run(path);
        const Strings expected =
            join({{"-hide_banner", "-nostdin", "-loglevel", "warning", "-y"},
                  test.sources,
                  {"-c", "copy", "-movflags", "+faststart", "-f", "mp4", "/dev/fd/3"}});
        EXPECT_EQ(recordedArguments(), expected);
        EXPECT_EQ(readFile(path), "media");
        EXPECT_EQ(rawAttribute(path, "user.com.apple.quarantine"), "0083;1;Chrome;");
        EXPECT_EQ(entries(folder), Strings{"clip"});
    }
    EXPECT_EQ(linesOf(root->file("standin/probe-arguments")),
              join({{"-v", "error"},
                    protocols,
                    reconnectGroup,
                    {"-show_entries", "stream=index,codec_type,width,height,bit_rate", "-of",
                     "json", mpd}}));

    // Each tool is asked once in this process. FFmpeg 5.1 lacks the last two reconnect options.
    EXPECT_EQ(readFile(root->file("standin/asked")), "\n");
    const Strings older(reconnectGroup.begin(), reconnectGroup.end() - 4);
    EXPECT_EQ(reconnectOptions("/usr/bin/ffmpeg"), older);
    EXPECT_EQ(reconnectOptions("/usr/bin/ffprobe"), older);
}

TEST_F(Materialization, Failures) {
    const std::string mpd = url("/dash/manifest.mpd");
    const std::string track = url("/video.mp4");
    const std::string failed = "FFmpeg 下载或合并流媒体失败：";
    const std::string refused = failed + "[rtp] Protocol 'rtp' not on whitelist "
                                         "'https,http,httpproxy,tcp,tls,crypto'! | [media URL] "
                                         "Invalid data found when processing input";
    // The SDP's RTP port is held here: an FFmpeg that tried to bind it would say so.
    const int rtp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {}, {}};
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(rtp, reinterpret_cast<sockaddr*>(&address), length), 0);
    getsockname(rtp, reinterpret_cast<sockaddr*>(&address), &length);
    writeFile(root->file("streams/sdp.m4a"), "v=0\nc=IN IP4 127.0.0.1\nm=audio " +
                                                 std::to_string(ntohs(address.sin_port)) +
                                                 " RTP/AVP 0\n");
    // Streams that stop after their headers, at the playlist or at a segment; a tool that waits
    // on a helper of its own. Each tool is ended, and its helper with it.
    writeFile(root->file("streams/held.m3u8"),
              "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n/stall/s0.ts\n#EXT-X-ENDLIST\n");
    const MediaToolLimits quick{.stallLimit = 300ms, .playlistFetch = {100ms, 200ms}};
    const std::string stalled = "FFmpeg 下载或合并流媒体失败：长时间没有收到或写出任何数据，已停止";
    const std::string helper = root->file("standin/helper");
    const struct {
        std::string tools;
        std::string standin; // run by the stand-in ffmpeg before it writes its output
        std::string probe;
        Call run;
        std::string message;
        std::string left = "placeholder";
        bool onSmallDisk = false;
    } cases[] = {
        {"standin", "", "", tracks(track, nullopt, "Video"), "流媒体类型无效"},
        {"captures", "", "", tracks(track, nullopt, "video"),
         "未找到 FFmpeg，无法把分片视频合并为完整文件"},
        {"lone", "", "", manifest(mpd, "video"), "未找到 FFmpeg，无法把分片视频合并为完整文件"},
        {"standin", "", R"({"streams":{}})", manifest(mpd, "video"),
         "无法读取流媒体的画质信息：FFprobe 返回的数据格式无效"},
        {"standin", "", R"({"streams":[{"index":0,"codec_type":"audio"}]})", manifest(mpd, "video"),
         "播放清单中没有可合并的媒体轨道"},
        {"standin",
         "printf x > \"$out\"; printf '1\\n2\\n3\\n4\\n5\\nGET https://c.example/s?token=T: "
         "403\\n' >&2; exit 1",
         "", tracks(track, nullopt, "video"),
         "FFmpeg 下载或合并流媒体失败：3 | 4 | 5 | GET [media URL] 403"},
        {"standin", "exit 0", "", tracks(track, nullopt, "video"), "FFmpeg 下载或合并流媒体失败"},
        // A lost segment is found however much FFmpeg writes after it.
        {"standin",
         "echo '[hls] Failed to open segment 1' >&2; yes '[mp4] Non-monotonous DTS' | head -c "
         "100000 >&2",
         "", tracks(track, nullopt, "video"),
         "FFmpeg 下载或合并流媒体失败：有分片无法下载 | [hls] Failed to open segment 1"},
        {"standin", "", "", manifest(url("/redirect/s.m3u8?/self.m3u8"), "video"),
         "播放清单中没有可合并的媒体轨道"},
        {"standin", "", "", manifest(url("/loop.m3u8"), "audio"), "播放清单中没有可合并的媒体轨道"},
        // The real tools' own errors, without the address and its token. An SDP text as a track
        // or rendition is refused before any port is bound; a result without samples (an index
        // after them, served without ranges), with a lost segment, or on a full disk is none.
        {"real", "", "", tracks(url("/gone.mp4?token=SECRET"), nullopt, "video"),
         failed + "[http] HTTP error 404 Not Found | [media URL] Server returned 404 Not Found"},
        {"real", "", "", manifest(url("/gone.mpd?token=SECRET"), "video"),
         "无法读取流媒体的画质信息：[media URL] Server returned 404 Not Found"},
        {"real", "", "", tracks(track, url("/sdp.m4a"), "video"), refused},
        {"real", "", "", manifest(url("/sdp.m3u8"), "video"), refused},
        {"real", "", "", tracks(url("/late.mp4"), nullopt, "video"), failed + "合并结果中没有视频"},
        {"real", "", "", manifest(url("/holes.m3u8"), "video"),
         failed + "有分片无法下载 | [hls] Failed to open segment 1 of playlist 0"},
        {"real", "", "", manifest(url("/master.m3u8"), "video"),
         failed +
             "合并结果无法读取 | [mov,mp4,m4a,3gp,3g2,mj2] moov atom not found | clip: Invalid "
             "data found when processing input",
         "placeholder", true},
        {"standin",
         "printf other > '" + folder + "/new'; mv '" + folder + "/new' '" + folder + "/clip'", "",
         tracks(track, nullopt, "video"), "保存目标在合并期间发生变化，已停止替换", "other"},
        {"real", "", "", manifest(url("/stall/index.m3u8"), "video", quick), stalled},
        {"real", "", "", manifest(url("/held.m3u8"), "video", quick), stalled},
        {"standin", "sleep 30 & echo $! > " + helper + "; wait", "",
         tracks(track, nullopt, "video", nullopt, quick), stalled},
        // A tool that allocates without end fails at the bound, which the message names.
        {"standin", "exec perl -e 'push @a, \"x\" x 1048576 while 1'", "",
         tracks(track, nullopt, "video", nullopt,
                {.memoryLimitBytes = 64 << 20, .playlistFetch = {}}),
         "FFmpeg 下载或合并流媒体失败：占用内存超过 64 MiB 的上限，已停止"},
    };
    const std::string disk = root->file("disk");
    const bool mounted = mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=16k") == 0;
    const std::unique_ptr<const char, decltype([](const char* at) { umount2(at, MNT_DETACH); })>
        unmount(mounted ? disk.c_str() : nullptr);
    for (const auto& test : cases) {
        if (test.onSmallDisk && !mounted)
            continue;
        useTools(test.tools, test.standin, test.probe);
        const std::string in = test.onSmallDisk ? disk : folder;
        writeFile(in + "/clip", "placeholder");
        EXPECT_EQ(messageOf<MediaMaterializerError>([&] { test.run(in + "/clip"); }), test.message);
        EXPECT_EQ(readFile(in + "/clip"), test.left) << test.message;
        EXPECT_EQ(entries(in), Strings{"clip"}) << test.message;
    }
    close(rtp);
    // Gone, or a zombie waiting for its new parent.
    const std::string helperStatus =
        "/proc/" + std::to_string(std::stoi(readFile(helper))) + "/stat";
    EXPECT_TRUE(!exists(helperStatus) || readFile(helperStatus).find(") Z ") != std::string::npos);

    const std::string path = folder + "/clip";

    fs::create_symlink(path, folder + "/link");
    ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0600), 0);
    // A missing placeholder is the host's test; a folder is refused by the same rule as a FIFO.
    for (const std::string& target : {folder + "/link", folder + "/fifo", std::string("clip")})
        EXPECT_EQ(
            messageOf<MediaMaterializerError>([&] { tracks(track, nullopt, "video")(target); }),
            "下载占位文件无效")
            << target;
    EXPECT_EQ(readFile(path), "placeholder");
    if (!mounted)
        GTEST_SKIP() << "a full disk is a tmpfs the test mounts, which is not permitted here";
}

// While FFmpeg writes and after, the output has no more permissions than the placeholder, then
// exactly its bits; a folder renamed meanwhile keeps nothing of it.
TEST_F(Materialization, OutputFile) {
    const std::string mode = root->file("standin/mode");
    for (const mode_t permissions : {0600, 0666}) {
        useTools("standin", "printf media > \"$out\"; stat -L -c %a \"$out\" > " + mode);
        const std::string path = placeholder();
        chmod(path.c_str(), permissions);
        tracks(url("/video.mp4"), nullopt, "video")(path);
        EXPECT_EQ(std::stoi(readFile(mode), nullptr, 8) & ~permissions, 0) << permissions;
        EXPECT_EQ(statusOf(path).st_mode & 0777, permissions);
    }
    const std::string moved = folder + "-moved";
    useTools("standin", "exec 4> \"$out\"; mv '" + folder + "' '" + moved + "'; printf media >&4");
    const std::string path = placeholder();
    EXPECT_EQ(messageOf<MediaMaterializerError>(
                  [&] { tracks(url("/video.mp4"), nullopt, "video")(path); }),
              "保存目标在合并期间发生变化，已停止替换");
    EXPECT_EQ(entries(moved), Strings{"clip"});
}

TEST_F(Materialization, RealStreams) {
    useTools("real");
    const std::string both = "video|640|360\naudio|44100\n";
    const std::pair<Call, std::string> cases[] = {
        {manifest(url("/master.m3u8"), "video"), both},
        {manifest(url("/master.m3u8"), "audio"), "audio|44100\n"},
        {manifest(url("/v180/index.m3u8"), "video"), "video|320|180\n"},
        {manifest(url("/dash/manifest.mpd"), "video"), both},
        {tracks(url("/video.mp4"), url("/audio.m4a"), "video", "https://a.example/"), both},
    };
    for (const auto& [run, streams] : cases) {
        const std::string path = folder + "/clip";
        writeFile(path, "placeholder");
        run(path);
        EXPECT_EQ(probeMedia(path), streams + "mov,mp4,m4a,3gp,3g2,mj2\n");
        EXPECT_EQ(rawAttribute(path, "user.com.apple.quarantine"), nullopt);
        EXPECT_EQ(entries(folder), Strings{"clip"});
    }
}

} // namespace
} // namespace brindle
