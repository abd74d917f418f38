#include "MediaMaterializerSteps.h"
#include "MetadataCore/MediaMaterializer.h"
#include "MetadataCore/MediaMaterializerError.h"

#include "MetadataCore/BundledToolLocation.h"
#include "Support/AttributeReadout.h"
#include "Support/LoopbackHTTPServer.h"
#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using namespace mediaMaterialization;
using namespace testing;
using Strings = std::vector<std::string>;
using Call = std::function<void(const std::string& path)>;
using std::nullopt;
using namespace std::chrono_literals;

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
    // The address returned, or the error's message.
    const std::tuple<std::string (*)(const std::string&), std::string, std::string> cases[] = {
        {validatedManifestURL, "HTTPS://a.example/INDEX.M3U8?t=1#f",
         "https://a.example/INDEX.M3U8?t=1#f"},
        {validatedManifestURL, "http://u:p@a.example/d.mpd", "http://a.example/d.mpd"},
        {validatedManifestURL, "https:///a.m3u8", manifestError},
        {validatedManifestURL, "https://a.example/a.mp4?x=.m3u8", manifestError},
        {track, "https://u:p@cdn.example/a.MP4?sig=1#t", "https://cdn.example/a.MP4?sig=1#t"},
        {track, "https://cdn.example/a.m3u8", trackError},
        {referrer, "https://u:p@a.example/watch?v=1#t", "https://a.example/watch?v=1"},
        {referrer, "ftp://a.example/watch", trackError},
    };
    for (const auto& [check, text, expected] : cases) {
        std::string outcome;
        const auto refusal = messageOf<MediaMaterializerError>([&] { outcome = check(text); });
        EXPECT_EQ(refusal.empty() ? outcome : refusal, expected) << text;
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
    const std::pair<std::string, HLSInputs> cases[] = {
        // AVERAGE-BANDWIDTH counts before BANDWIDTH: 4.5 Mbit/s beats 5 (average 4); of equals
        // the first wins.
        {stream + "BANDWIDTH=5000000,AVERAGE-BANDWIDTH=4000000,RESOLUTION=1280x720\na.m3u8\n" +
             stream + "BANDWIDTH=4500000,RESOLUTION=1280x720\nb.m3u8\n" + stream +
             "BANDWIDTH=4500000,RESOLUTION=1280x720\nlast",
         {in + "b.m3u8", nullopt}},
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
    for (const auto& [playlist, expected] : cases)
        EXPECT_EQ(MediaMaterializer::preferredHLSInputs(playlist, base), expected) << playlist;
}

TEST(StreamingManifest, Fetching) {
    TemporaryDirectory folder;
    writeFile(folder.file("ok.m3u8"), "#EXTM3U\n");
    writeFile(folder.file("limit.m3u8"), std::string(1 << 20, '#'));
    writeFile(folder.file("over.m3u8"), std::string((1 << 20) + 1, '#'));
    writeFile(folder.file("latin1.m3u8"), "#EXTM3U\n\xE9\n");
    LoopbackHTTPServer server;
    server.serveFolder(folder.path());
    const platform::HTTPFetchLimits quick{200ms, 400ms};
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
        EXPECT_LT(std::chrono::steady_clock::now() - start, 700ms);
    }
}

TEST(MediaMaterializer, Diagnostics) {
    EXPECT_EQ(diagnostic("\n \r\n"), nullopt);
    EXPECT_EQ(diagnostic("1\n2\r\n3\n\n[hls @ 0x5a] four hTTp://a.example/x?token=S\xFF more\n"
                         "https:// @ 0x1\n\"HTTPS://b.example/s.ts?q='<1>'&sig=T\" x\n"),
              "3 | [hls] four [media URL] more | https:// @ 0x1 | \"[media URL] x");
    EXPECT_EQ(diagnostic(std::string(700, 'x') + "\n"), std::string(600, 'x'));
}

// Streams served from the loopback address; tools from the real FFmpeg, or stand-ins that record
// their arguments and run $STANDIN before writing (ffprobe before printing it, for the streams it
// reports). One real run of each kind of input, the command lines the stand-ins see, and every way
// a run fails or is refused. A result is read back before it replaces the placeholder, whose
// attributes it takes; nothing of a run is left beside it, nor in the capture files' own folder.
TEST(Materialization, Outcomes) {
    TemporaryDirectory root;
    for (const char* folder :
         {"streams", "real", "standin", "lone", "captures", "disk", "probe", "clips", "moving"})
        fs::create_directory(root.file(folder));
    // One-second streams: HLS media playlists "v360", "v180" (video only, 640x360 and 320x180),
    // "a22" and "a44" (audio only, 22 050 and 44 100 Hz) as "<name>/index.m3u8"; a DASH manifest
    // with 320x180 video (stream 0), 640x360 video (1) and audio (2); "video.mp4" (640x360, no
    // audio), "audio.m4a" (44 100 Hz) and "late.mp4" (both, about 170 KB, its index at the end).
    // One run writes every output; options before an output apply to it alone.
    runTool("sh", {"-c", R"(cd "$0" && mkdir v360 v180 a22 a44 dash
x='-c:v libx264 -preset ultrafast -g 25'
hls() { echo "-f hls -hls_playlist_type vod -hls_segment_filename $1/s%d.ts $1/index.m3u8"; }
exec ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=size=640x360:rate=25:duration=1 \
  -f lavfi -i sine=sample_rate=44100:duration=1 -map 0:v $x $(hls v360) -map 0:v -s 320x180 $x \
  $(hls v180) -map 1:a -ar 22050 $(hls a22) -map 1:a $(hls a44) -map 0:v -map 0:v -map 1:a \
  -s:v:0 320x180 $x -adaptation_sets 'id=0,streams=v id=1,streams=a' dash/manifest.mpd -map 0:v \
  -movflags +faststart $x video.mp4 -map 1:a -movflags +faststart audio.m4a -map 0:v -map 1:a $x \
  -qp 0 late.mp4)",
                   root.file("streams")});
    const std::string folder = root.file("clips");
    // Masters that name themselves, one whose audio is an SDP text whose RTP port nothing may
    // bind, and a playlist whose second segment is missing. The stand-in ffmpeg lists the
    // options the real one knows; its ffprobe lists none.
    const std::string variant = "#EXT-X-STREAM-INF:BANDWIDTH=1,AUDIO=\"a\"\n";
    const std::string rendition = "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",URI=";
    const std::pair<std::string, std::string> files[] = {
        // Both videos with the audio group whose DEFAULT=NO rendition (22 kHz) comes first.
        {"streams/master.m3u8", R"(#EXTM3U
#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="aud",DEFAULT=NO,URI="a22/index.m3u8"
#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="aud",DEFAULT=YES,URI="a44/index.m3u8"
#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=320x180,AUDIO="aud"
v180/index.m3u8
#EXT-X-STREAM-INF:BANDWIDTH=900000,RESOLUTION=640x360,AUDIO="aud"
v360/index.m3u8
)"},
        {"streams/self.m3u8", variant + "self.m3u8#v\n"},
        {"streams/loop.m3u8", rendition + "loop.m3u8\n" + variant + "v\n"},
        {"streams/sdp.m4a", "v=0\nc=IN IP4 127.0.0.1\nm=audio 5004 RTP/AVP 0\n"},
        {"streams/holes.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1,\nv180/s0.ts\n"
                               "#EXTINF:1,\nv180/s1.ts\n#EXT-X-ENDLIST\n"},
        {"standin/ffmpeg", R"(#!/bin/sh
d=$(dirname "$0"); if [ "$2" = -h ]; then echo >> "$d/asked"; exec /usr/bin/ffmpeg "$@"; fi
printf '%s\n' "$@" > "$d/arguments"; eval "out=\${$#}"; eval "$STANDIN"; printf media > "$out")"},
        // The result is read back as a file.
        {"standin/ffprobe", R"(#!/bin/sh
[ "$2" = -h ] && exit 0; d=$(dirname "$0"); [ "$4" = file ] && exec "$d/../probe/ffprobe"
printf '%s\n' "$@" > "$d/probe-arguments"; eval "$STANDIN")"}};
    for (const auto& [name, text] : files)
        writeFile(root.file(name), text, 0755);
    writeStandInProbe(root.file("probe"));
    for (const std::string tool : {"real/ffmpeg", "real/ffprobe", "lone/ffmpeg"})
        fs::create_symlink("/usr/bin/" + tool.substr(5), root.file(tool));
    LoopbackHTTPServer server;
    server.serveFolder(root.file("streams"));
    setenv("TMPDIR", root.file("captures").c_str(), 1);
    setenv("XDG_CACHE_HOME", root.file("cache").c_str(), 1);
    // The folder "real", "lone" (ffmpeg alone) or "captures" (no tools), or else the stand-ins
    // running `tools`.
    const auto useTools = [&](const std::string& tools) {
        const bool named = tools == "real" || tools == "lone" || tools == "captures";
        setenv(BundledToolLocation::toolsDirectoryVariable,
               root.file(named ? tools : "standin").c_str(), 1);
        setenv("STANDIN", named ? "" : tools.c_str(), 1);
    };
    const auto url = [&](const std::string& path) { return server.url(path); };
    const auto manifest = [&](const std::string& path, const std::string& kind = "video",
                              MediaToolLimits limits = {}) -> Call {
        return [=](const std::string& at) {
            MediaMaterializer{limits}.materialize(at, url(path), kind);
        };
    };
    const auto tracks =
        [&](const std::string& media, const std::optional<std::string>& audio = nullopt,
            const std::string& kind = "video", const std::optional<std::string>& referrer = nullopt,
            MediaToolLimits limits = {}) -> Call {
        return [=](const std::string& at) {
            MediaMaterializer{limits}.materialize(
                at, url(media), audio ? std::optional(url(*audio)) : nullopt, kind, referrer);
        };
    };
    const auto placeholder = [](const std::string& in) {
        writeFile(in + "/clip", "placeholder");
        setRawAttribute(in + "/clip", "user.com.apple.quarantine", "0083;1;Chrome;");
        return in + "/clip";
    };
    const std::string probed = R"(echo '{"streams":[{"index":0,"codec_type":"video","width":1280,
        "height":720},{"index":1,"codec_type":"video","width":1920,"height":1080,"bit_rate":"1"},
        {"index":2,"codec_type":"audio","bit_rate":"128000"},{"codec_type":"video"}]}')";
    const std::string audioOnly = R"(echo '{"streams":[{"index":0,"codec_type":"audio",
        "bit_rate":"64"},{"index":1,"codec_type":"audio","bit_rate":"+96"},
        {"index":2,"codec_type":"data"}]}')";
    const std::string mpd = "/dash/manifest.mpd";
    const std::string agent =
        "Mozilla/5.0 (Macintosh; Intel Mac OS X) AppleWebKit/537.36 Chrome/138 Safari/537.36";
    const std::string page = "https://a.example/watch?v=1";
    const Strings protocols = {"-protocol_whitelist", "https,http,httpproxy,tcp,tls,crypto"};
    // FFmpeg 5.1 lacks the last two reconnect options; a tool that lists none is given them all.
    const Strings older(reconnectGroup.begin(), reconnectGroup.end() - 4);
    // Every input names its protocols and reconnects, and nothing but its own options follow.
    const auto input = [&](const std::string& path, const Strings& options = {}) {
        return join({protocols, older, options, {"-i", url(path)}});
    };
    const Strings referred = {"-user_agent", agent, "-referer", page};
    const Strings videoMaps = {"-map", "0:v:0", "-map", "1:a:0?"};
    const Strings fromMaster = join({input("/v360/index.m3u8"), input("/a44/index.m3u8")});
    const std::string failed = "FFmpeg 下载或合并流媒体失败：";
    const std::string refused = failed + "[rtp] Protocol 'rtp' not on whitelist "
                                         "'https,http,httpproxy,tcp,tls,crypto'! | [media URL] "
                                         "Invalid data found when processing input";
    const std::string missing = "未找到 FFmpeg，无法把分片视频合并为完整文件";
    const std::string noStream = "播放清单中没有可合并的媒体轨道";
    const std::string stalled = failed + "长时间没有收到或写出任何数据，已停止";
    const Strings seen = join({{"-v", "error", "-of", "compact=p=0:nk=1", "-show_entries"},
                               {"format=format_name:stream=codec_type,width,height,sample_rate"}});
    const std::string both = "video|640|360\naudio|44100\nmov,mp4,m4a,3gp,3g2,mj2\n";
    const MediaToolLimits quick{.stallLimit = 300ms, .playlistFetch = {100ms, 200ms}};
    const Call plain = tracks("/video.mp4");
    const std::string helper = root.file("standin/helper");
    const struct {
        Call run;
        std::string message;    // "" for a success
        std::string tools = ""; // see useTools
        Strings sources = {};   // the stand-in's inputs and maps, when it succeeds
        bool onSmallDisk = false;
        std::string left = "placeholder"; // after a failure
    } cases[] = {
        {manifest("/master.m3u8"), "", "", join({fromMaster, videoMaps})},
        {manifest("/master.m3u8", "audio"), "", "", join({fromMaster, {"-map", "1:a:0"}})},
        {tracks("/video.mp4", "/audio.m4a", "video", page + "#t"), "", "",
         join({input("/video.mp4", referred), input("/audio.m4a", referred), videoMaps})},
        {tracks("/audio.m4a", nullopt, "audio"), "", "",
         join({input("/audio.m4a", {"-user_agent", agent}), {"-map", "0:a:0"}})},
        {manifest(mpd), "", probed, join({input(mpd), {"-map", "0:1", "-map", "0:2"}})},
        {manifest(mpd, "audio"), "", audioOnly, join({input(mpd), {"-map", "0:1"}})},
        {manifest("/master.m3u8"), "", "real"},
        {manifest(mpd), "", "real"},
        {tracks("/video.mp4", "/audio.m4a", "video", "https://a.example/"), "", "real"},
        {tracks("/video.mp4", nullopt, "Video"), "流媒体类型无效"},
        {plain, missing, "captures"},
        {manifest(mpd), missing, "lone"},
        {manifest(mpd), "无法读取流媒体的画质信息：FFprobe 返回的数据格式无效",
         R"(echo '{"streams":{}}')"},
        {manifest(mpd), noStream, R"(echo '{"streams":[{"index":0,"codec_type":"audio"}]}')"},
        {plain, "FFmpeg 下载或合并流媒体失败", "exit 0"},
        // A lost segment is found however much FFmpeg writes after it.
        {plain, failed + "有分片无法下载 | [hls] Failed to open segment 1",
         "echo '[hls] Failed to open segment 1' >&2; yes '[mp4] Non-monotonous DTS' | head -c "
         "100000 >&2"},
        // Relative to where the redirect ended, the variant is the master itself.
        {manifest("/redirect/s.m3u8?/self.m3u8"), noStream},
        {manifest("/loop.m3u8", "audio"), noStream},
        {plain, "保存目标在合并期间发生变化，已停止替换",
         "printf other > '" + folder + "/new'; mv '" + folder + "/new' '" + folder + "/clip'",
         Strings(), false, "other"},
        // A tool that waits on a helper of its own is ended, and its helper with it.
        {tracks("/video.mp4", nullopt, "video", nullopt, quick), stalled,
         "sleep 30 & echo $! > " + helper + "; wait"},
        // A tool that allocates without end fails at the bound, which the message names.
        {tracks("/video.mp4", nullopt, "video", nullopt,
                {.memoryLimitBytes = 64 << 20, .playlistFetch = {}}),
         failed + "占用内存超过 64 MiB 的上限，已停止",
         "exec perl -e 'push @a, \"x\" x 1048576 while 1'"},
        // The real tools' own errors, without the address and its token. An SDP text as a track
        // or rendition is refused before any port is bound; a result without samples (an index
        // after them, served without ranges), with a lost segment, or on a full disk is none; a
        // stream that stops after its headers is given up.
        {manifest("/gone.mpd?token=SECRET"),
         "无法读取流媒体的画质信息：[media URL] Server returned 404 Not Found", "real"},
        {tracks("/video.mp4", "/sdp.m4a"), refused, "real"},
        {tracks("/late.mp4"), failed + "合并结果中没有视频", "real"},
        {manifest("/holes.m3u8"),
         failed + "有分片无法下载 | [hls] Failed to open segment 1 of playlist 0", "real"},
        {manifest("/stall/index.m3u8", "video", quick), stalled, "real"},
        {manifest("/master.m3u8"),
         failed + "合并结果无法读取 | [mov,mp4,m4a,3gp,3g2,mj2] moov atom not found | clip: "
                  "Invalid data found when processing input",
         "real", Strings(), true},
    };
    const std::string disk = root.file("disk");
    const bool mounted = mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=16k") == 0;
    const std::unique_ptr<const char, decltype([](const char* at) { umount2(at, MNT_DETACH); })>
        unmount(mounted ? disk.c_str() : nullptr);
    for (const auto& test : cases) {
        if (test.onSmallDisk && !mounted)
            continue;
        useTools(test.tools);
        const std::string in = test.onSmallDisk ? disk : folder;
        const std::string clip = placeholder(in);
        EXPECT_EQ(messageOf<MediaMaterializerError>([&] { test.run(clip); }), test.message);
        // A real result is read back with ffprobe: its streams, a line each, then the container.
        const bool real = test.tools == "real" && test.message.empty();
        EXPECT_EQ(real ? runTool("ffprobe", join({seen, {clip}})) : readFile(clip),
                  test.message.empty() ? (real ? both : "media") : test.left)
            << test.message;
        EXPECT_EQ(rawAttribute(clip, "user.com.apple.quarantine").value_or("none"),
                  test.left == "other" ? "none" : "0083;1;Chrome;");
        EXPECT_EQ(entries(in), Strings{"clip"}) << test.message;
        if (!test.sources.empty()) {
            EXPECT_EQ(linesOf(root.file("standin/arguments")),
                      join({{"-hide_banner", "-nostdin", "-loglevel", "warning", "-y"},
                            test.sources,
                            {"-c", "copy", "-movflags", "+faststart", "-f", "mp4", "/dev/fd/3"}}));
        }
    }
    EXPECT_EQ(linesOf(root.file("standin/probe-arguments")),
              join({{"-v", "error"},
                    protocols,
                    reconnectGroup,
                    {"-show_entries", "stream=index,codec_type,width,height,bit_rate", "-of",
                     "json", url(mpd)}}));
    // Each tool is asked once in this process.
    EXPECT_EQ(readFile(root.file("standin/asked")), "\n");
    EXPECT_EQ(reconnectOptions("/usr/bin/ffprobe"), older);
    // Gone, or a zombie waiting for its new parent.
    const std::string stat = "/proc/" + std::to_string(std::stoi(readFile(helper))) + "/stat";
    EXPECT_TRUE(!exists(stat) || readFile(stat).find(") Z ") != std::string::npos);

    // A missing placeholder is the host's test; a folder is refused by the same rule as a FIFO.
    fs::create_symlink(folder + "/clip", folder + "/link");
    EXPECT_EQ(mkfifo((folder + "/fifo").c_str(), 0600), 0);
    for (const std::string& target : {folder + "/link", folder + "/fifo", std::string("clip")})
        EXPECT_EQ(messageOf<MediaMaterializerError>([&] { plain(target); }), "下载占位文件无效")
            << target;
    EXPECT_EQ(readFile(folder + "/clip"), "placeholder");

    // While FFmpeg writes and after, the output has no more permissions than the placeholder,
    // then exactly its bits; a folder renamed meanwhile keeps nothing of it.
    const std::string mode = root.file("standin/mode");
    for (const mode_t permissions : {0600, 0666}) {
        useTools("printf media > \"$out\"; stat -L -c %a \"$out\" > " + mode);
        const std::string path = placeholder(folder);
        chmod(path.c_str(), permissions);
        plain(path);
        EXPECT_EQ(std::stoi(readFile(mode), nullptr, 8) & ~permissions, 0) << permissions;
        EXPECT_EQ(statusOf(path).st_mode & 0777, permissions);
    }
    const std::string moving = root.file("moving");
    useTools("exec 4> \"$out\"; mv '" + moving + "' '" + moving + "-moved'; printf media >&4");
    EXPECT_EQ(messageOf<MediaMaterializerError>([&] { plain(placeholder(moving)); }),
              "保存目标在合并期间发生变化，已停止替换");
    EXPECT_EQ(entries(moving + "-moved"), Strings{"clip"});
    EXPECT_EQ(entries(root.file("captures")), Strings{});
    for (const char* name :
         {"TMPDIR", "XDG_CACHE_HOME", "STANDIN", BundledToolLocation::toolsDirectoryVariable})
        unsetenv(name);
    if (!mounted)
        GTEST_SKIP() << "a full disk is a tmpfs the test mounts, which is not permitted here";
}

} // namespace
} // namespace brindle
