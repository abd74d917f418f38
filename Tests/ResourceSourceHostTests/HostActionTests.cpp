// The file actions through the built host, one request after another on real files: the replies,
// where each file ends up, what a failure ends. The libraries' own rules are tested in-process.

#include "Support/AttributeReadout.h"
#include "Support/HostProcess.h"
#include "Support/MediaTools.h"

#include <boost/json/array.hpp>

#include <filesystem>
#include <sys/resource.h>
#include <thread>

namespace brindle::testing {
namespace {

namespace fs = std::filesystem;

// Stand-ins for FFmpeg (it writes "media") and ffprobe, beside the real encoder.
class HostActions : public ImageFolders {
protected:
    void SetUp() override {
        ImageFolders::SetUp();
        writeFile(tools + "/ffmpeg",
                  "#!/bin/sh\n[ \"$2\" = -h ] && exit 0\n"
                  "eval \"out=\\${$#}\"\nprintf media > \"$out\"\n",
                  0755);
        writeStandInProbe(tools);
    }

    // `text` with "$R" standing for the root folder and "$<name>" for `values`.
    std::string expand(std::string text, const std::map<std::string, std::string>& values = {}) {
        auto all = values;
        all["R"] = root.path();
        for (const auto& [name, value] : all)
            for (size_t at; (at = text.find("$" + name)) != std::string::npos;)
                text.replace(at, name.size() + 1, value);
        return text;
    }

    ProcessOptions options{{},
                           {{"BRINDLE_DIRECT_SAVE_DIR", root.file("in")},
                            {"BRINDLE_TOOLS_DIR", tools},
                            {"XDG_CACHE_HOME", root.file("cache")},
                            {"BRINDLE_IMAGE_CANCEL_DIR", root.file("markers")}}};
};

TEST_F(HostActions, EachReplyAndWhereTheFilesEndUp) {
    fs::create_directory(root.file("Pictures"));
    fs::create_directory(root.file("dest"));
    for (const char* name : {"image.png", "x.png", "newer.png", "clip.mp4"})
        writeFile(root.file(name), name);
    const std::string png = readFile(makePNG("picture.png"));
    fs::create_symlink(makePNG("target.png"), image("link.png"));
    makePNG("untagged.png");
    // Each request with its whole reply, but the steps of an upload.
    Messages requests;
    std::map<size_t, std::string> expected;
    const auto row = [&](const std::string& request, const std::string& reply) {
        expected[requests.size()] = reply;
        requests.push_back(json(expand(request)));
    };
    const auto upload = [&](const std::string& id, const std::string& bytes) {
        for (const object& request : uploadRequests(id, bytes))
            requests.push_back(request);
    };
    // A commit of `staged`, uploaded first, or of what an earlier one left.
    const auto commit = [&](const std::string& id, const std::string& name,
                            const std::string& extra, const std::string& reply,
                            const std::string& staged = "xyz") {
        if (!staged.empty())
            upload(id, staged);
        expected[requests.size()] = R"({"requestId":")" + id + "\"," + reply;
        requests.push_back(commitRequest(id, staged.empty() ? 3 : staged.size(), 1,
                                         root.file("dest"), name, json(expand("{" + extra + "}"))));
    };
    const auto failed = [](const std::string& error, const std::string& stage) {
        return R"("ok":false,"error":")" + error + R"(","stage":")" + stage +
               R"(","retryable":false})";
    };
    const auto complete = [](const std::string& name,
                             const std::string& sizes =
                                 R"(false,"originalBytes":0,"outputBytes":0)") {
        return R"("ok":true,"event":"complete","path":"$R/dest/)" + name +
               R"(","moved":true,"conflict":false,"optimized":)" + sizes + "}";
    };
    row(R"({"action":"tagDownload","path":"$R/image.png","resourceUrl":"https://cdn.example/i",
            "pageUrl":"","frameUrl":"https://u:p@frame.example/embed"})",
        R"({"ok":true,"urls":["https://frame.example/embed"]})");
    row(R"({"action":"tagDownload","path":"$R/Pictures","pageUrl":"https://a.b/"})",
        R"({"ok":false,"error":"拒绝修改非普通文件","stage":"metadata","retryable":false})");
    const auto move = [&](const std::string& fields, bool conflict) {
        row(R"({"action":"moveDownload","destinationDirectory":"$R/Pictures",)" + fields + "}",
            std::string(R"({"ok":true,"path":"$R/Pictures/image.png","moved":)") +
                (conflict ? "false,\"conflict\":true}" : "true,\"conflict\":false}"));
    };
    move(R"("path":"$R/image.png","destinationFilename":"")", false);
    // Only JSON true asks for replacement.
    move(R"("path":"$R/newer.png","destinationFilename":"image.png","overwrite":"true")", true);
    move(R"("path":"$R/newer.png","destinationFilename":"image.png","overwrite":true)", false);
    row(R"({"action":"discardDownload","path":"$R/x.png"})", R"({"ok":true,"discarded":true})");
    row(R"({"action":"discardDownload","path":"$R/x.png","requestId":"r7"})",
        R"({"ok":false,"stage":"destination","retryable":false,"requestId":"r7",
            "error":"待移动的下载文件无效"})");
    // Fields are read in order, and a separate track wins over a manifest.
    const std::string clip = R"({"action":"materializeDownload","path":"$R/clip.mp4",)";
    const std::string manifest = R"("manifestUrl":"https://cdn.example/m.m3u8")";
    row(clip + manifest + R"(,"mediaUrl":"https://cdn.example/v.mp4","mediaKind":"video"})",
        R"({"ok":true,"urls":["https://cdn.example/v.mp4"],"materialized":true})");
    // A kind is required (on the track's branch and the commit's alike).
    row(clip + manifest + "}", R"({"ok":false,"error":"缺少字段：mediaKind",
                                    "stage":"materialize","retryable":false})");
    row(R"({"action":"materializeDownload","path":"$R/gone.mp4","mediaKind":"video",)" + manifest +
            "}",
        R"({"ok":false,"error":"下载占位文件无效","stage":"materialize","retryable":true})");
    // The image is tagged where it ends up; the conversion stays when only the tagging fails.
    const std::string optimize = R"({"action":"optimizeImage","path":"$R/images/)";
    const std::string page = R"(","pageUrl":"https://u:p@example.com/gallery"})";
    row(optimize + "picture.png" + page,
        R"({"ok":true,"urls":["https://example.com/gallery"],"optimized":true,"reason":"smaller",
            "path":"$R/images/picture.webp","originalBytes":$PNG,"outputBytes":$WEBP})");
    row(optimize + "link.png" + page, R"({"ok":false,"stage":"optimize","retryable":false,
        "error":"下载图片文件尚未就绪：Too many levels of symbolic links"})");
    const std::string noURL = "没有可写入的 HTTP/HTTPS 来源 URL";
    row(optimize + R"(untagged.png","pageUrl":"ftp://x/"})", "{" + failed(noURL, "metadata"));
    // Uploads: a failure at any stage but the destination's ends the upload, whether a stage's or
    // a field's; the count and size rules are the store's.
    upload("unfinished", "xyz"); // for the host's end to remove
    upload("r", "");
    row(R"({"action":"appendDirectSaveUpload","requestId":"r","chunkIndex":0.0,"data":"QQ=="})",
        R"({"ok":true,"event":"upload-progress","requestId":"r","chunkIndex":0,"receivedBytes":1})");
    row(R"({"action":"cancelDirectSaveUpload","requestId":"r"})",
        R"({"ok":true,"event":"cancelled","requestId":"r","cancelled":true})");
    const std::string gone = failed("直接保存暂存文件无效", "upload");
    commit("r", "r.bin", R"("totalBytes":1)", gone, "");
    commit("g", "g.bin", R"("resourceUrl":"ftp://x")", failed(noURL, "metadata"));
    commit("g", "g.bin", "", gone, "");
    commit("h", "", "", R"("ok":false,"error":"缺少字段：destinationFilename"})");
    commit("h", "h.bin", "", gone, "");
    commit("k", "k", R"("destinationDirectory":"$R/no")",
           failed("上一次保存目录已不存在或不可写", "destination"));
    commit("k", "k", "", complete("k"), "");
    commit("m", "m.mp4",
           R"("materializeTracks":true,"mediaKind":"video","resourceUrl":"https://a.example/v.mp4",
              "audioResourceUrl":"https://a.example/a.m4a")",
           complete("m.mp4"));
    commit("k", "k", "", gone, "");
    const std::string webp = R"(true,"originalBytes":$PNG,"outputBytes":$DEST)";
    commit("f", "photo.png", R"("optimizeToWebP":true)", complete("photo.webp", webp), png);
    // Converted, then failed: the WebP file goes with the upload.
    commit("w", "w.png", R"("optimizeToWebP":true,"resourceUrl":"-")", failed(noURL, "metadata"),
           png);
    // The same again: a conflict, then the retry only moves the prepared WebP file.
    commit("d", "photo.png", R"("optimizeToWebP":true)",
           R"("ok":true,"event":"conflict","path":"$R/dest/photo.webp","moved":false,
              "conflict":true})",
           png);
    commit("d", "photo.png",
           R"("optimizeToWebP":true,"overwrite":true,"totalBytes":0,"chunkCount":0)",
           complete("photo.webp", R"(true,"originalBytes":0,"outputBytes":0)"), "");
    const auto replies = testing::exchange(requests, options);
    ASSERT_EQ(replies.size(), requests.size());
    const std::map<std::string, std::string> sizes = {
        {"PNG", std::to_string(png.size())},
        {"WEBP", std::to_string(fs::file_size(image("picture.webp")))},
        {"DEST", std::to_string(fs::file_size(root.file("dest/photo.webp")))}};
    for (const auto& [index, reply] : expected)
        EXPECT_EQ(replies[index], json(expand(reply, sizes))) << requests[index];
    EXPECT_EQ(readFile(root.file("Pictures/image.png")), "newer.png");
    EXPECT_FALSE(exists(root.file("newer.png")) || exists(root.file("x.png")));
    EXPECT_EQ(readFile(root.file("clip.mp4")), "media");
    EXPECT_EQ(readAttributesIndependently(image("picture.webp")).at("whereFroms"),
              (boost::json::array{"https://example.com/gallery"}));
    EXPECT_EQ(entries(images), (std::vector<std::string>{"link.png", "picture.webp", "target.png",
                                                         "untagged.webp"}));
    EXPECT_EQ(readFile(root.file("dest/k")), "xyz");
    EXPECT_EQ(readFile(root.file("dest/m.mp4")), "media");
    EXPECT_TRUE(entries(root.file("in")).empty());

    // A staging folder that cannot be trusted is the host's one and final reply.
    ASSERT_EQ(symlink(root.file("in").c_str(), root.file("link").c_str()), 0);
    options.environment["BRINDLE_DIRECT_SAVE_DIR"] = root.file("link");
    EXPECT_EQ(testing::exchange({{{"action", "ping"}}, {{"action", "ping"}}}, options),
              (Messages{{{"ok", false}, {"error", "直接保存暂存文件无效"}}}));
}

TEST_F(HostActions, SecondHostCancelsARunningConversion) {
    // An encoder that announces itself and then takes far longer than the test may wait.
    const std::string started = root.file("encoder-started");
    installEncoder(": > '" + started + "'\nexec sleep 600");
    const std::string png = makePNG("slow.png"), before = readFile(png);
    HostSession first(options);
    first.send({{"action", "optimizeImage"}, {"path", png}, {"requestId", "running-1"}});
    for (int attempt = 0; attempt < 600 && !exists(started); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(exists(started)) << "the encoder never started";
    EXPECT_EQ(
        exchange({{{"action", "cancelImageOptimization"}, {"requestId", "running-1"}}}, options),
        Messages{json(R"({"ok":true,"cancelled":true,"requestId":"running-1"})")});
    EXPECT_EQ(first.receive(),
              json(R"({"ok":false,"error":"已取消无损 WebP 转换","stage":"optimize",
                                        "retryable":false,"requestId":"running-1"})"));
    EXPECT_EQ(readFile(png), before);
    EXPECT_FALSE(exists(root.file("markers/running-1")));
    EXPECT_EQ(entries(images), std::vector<std::string>{"slow.png"});
}

TEST_F(HostActions, HostFindsTheEncoderOnlyInItsOwnBundle) {
    // No override (an empty one is ignored) and an empty data folder: only the bundle's own
    // tools folder can supply the encoder.
    options.environment = {{"BRINDLE_TOOLS_DIR", ""}, {"XDG_DATA_HOME", root.file("data")}};
    const object request = json(R"({"action":"optimizeImage","pageUrl":"https://example.com/",
                                    "path":")" +
                                makePNG("bundled.png") + "\"}");
    EXPECT_EQ(exchange({request}, options).at(0).at("reason"), "encoder-missing");
    const std::string bundled = std::string(BRINDLE_BUNDLE_DIR) + "/Contents/MacOS/brindle-host";
    const auto replies =
        parseFrames(runProcess(bundled, frameJSON(request), options).standardOutput);
    EXPECT_EQ(replies.at(0).at("path"), image("bundled.webp").c_str()) << replies[0];
}

// A host that stays up: a URL library that it could not load for want of descriptors is reported
// as such (never as an unusable address), and loaded at the next commit once there are some again;
// its journal keeps to about the uploads it keeps, however many come and go after them.
TEST_F(HostActions, HostThatStaysUp) {
    writeFile(root.file("k"), "old");
    HostSession host({{}, {{"BRINDLE_DIRECT_SAVE_DIR", root.file("in")}}});
    for (const char* id : {"a", "b", "k"})
        for (const object& request : uploadRequests(id, "xyz"))
            host.ask(request);
    // The same kinds of failure first: the sanitizers' type checks need descriptors of their own
    // the first time they see a type.
    const auto track = [](const std::string& kind) {
        return json(R"({"action":"materializeDownload","path":"/-",
                        "mediaUrl":"https://a.example/v.mp4","mediaKind":")" +
                    kind + "\"}");
    };
    host.ask({{"action", "tagDownload"}, {"path", "-"}});
    host.ask(track("x"));
    // None free below the limit: the commit closes the staged file and opens it again to record
    // its sources.
    const pid_t pid = host.process().processIdentifier();
    rlimit previous{}, exhausted{0, RLIM_INFINITY};
    while (exists("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(exhausted.rlim_cur)))
        ++exhausted.rlim_cur;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &previous), 0); // the host's as well
    exhausted.rlim_max = previous.rlim_max;
    ASSERT_EQ(prlimit(pid, RLIMIT_NOFILE, &exhausted, nullptr), 0);
    object media = host.ask(track("video"));
    object failed = host.ask(commitRequest("a", 3, 1, root.path(), "a"));
    ASSERT_EQ(prlimit(pid, RLIMIT_NOFILE, &previous, nullptr), 0);
    const boost::json::value unloaded =
        "无法载入 URL 解析库：libcurl.so.4: cannot open shared object file: Too many open files";
    EXPECT_EQ(failed["error"], unloaded);
    EXPECT_EQ(media["error"], unloaded);
    EXPECT_EQ(media["retryable"], true);
    EXPECT_EQ(host.ask(commitRequest("b", 3, 1, root.path(), "b"))["event"], "complete");

    EXPECT_EQ(host.ask(commitRequest("k", 3, 1, root.path(), "k"))["event"], "conflict");
    for (int index = 0; index < 600; ++index)
        host.ask({{"action", index % 2 ? "cancelDirectSaveUpload" : "beginDirectSaveUpload"},
                  {"requestId", "n"}});
    for (const std::string& name : entries(root.file("in")))
        EXPECT_TRUE(!name.starts_with("_") || statusOf(root.file("in/" + name)).st_size < 1024);
}

} // namespace
} // namespace brindle::testing
