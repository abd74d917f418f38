// The upload actions through the built host, and its staging folder at start and end.

#include "Support/HostProcess.h"
#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

using boost::json::object;

TEST(DirectSaveUpload, ActionsAndCommitsThroughTheHost) {
    TemporaryDirectory root;
    std::filesystem::create_directories(root.file("tools"));
    std::filesystem::create_directories(root.file("dest"));
    std::filesystem::create_symlink("/usr/bin/cwebp", root.file("tools/cwebp"));
    // A stand-in FFmpeg that writes "media" as its output: the commit's own rules are the point.
    writeFile(
        root.file("tools/ffmpeg"),
        "#!/bin/sh\n[ \"$2\" = -h ] && exit 0\neval \"out=\\${$#}\"\nprintf media > \"$out\"\n",
        0755);
    writeStandInProbe(root.file("tools"));
    makeImage(root.file("p.png"), "testsrc=size=128x96", {"-f", "image2", "-c:v", "png"});
    const std::string png = readFile(root.file("p.png"));

    // Each commit with the parts of its reply that matter.
    const auto commit = [&](const char* id, size_t bytes, int chunks, const char* name,
                            object extra = {}) {
        return commitRequest(id, bytes, chunks, root.file("dest"), name, std::move(extra));
    };
    const std::string dest = root.file("dest") + "/";
    const object uploadError{{"ok", false}, {"stage", "upload"}, {"retryable", false}};
    const object complete{{"ok", true}, {"event", "complete"}, {"moved", true}};
    const std::vector<std::tuple<std::vector<object>, object, object>> steps = {
        {{json(R"({"action":"beginDirectSaveUpload","requestId":"r"})")},
         json(
             R"({"action":"appendDirectSaveUpload","requestId":"r","chunkIndex":0.0,"data":"QQ=="})"),
         json(
             R"({"ok":true,"event":"upload-progress","requestId":"r","chunkIndex":0,"receivedBytes":1})")},
        {{},
         json(R"({"action":"appendDirectSaveUpload","requestId":"r","chunkIndex":1})"),
         json(R"({"error":"缺少字段：data","stage":"upload","retryable":false,"requestId":"r"})")},
        {{},
         json(
             R"({"action":"appendDirectSaveUpload","requestId":"r","chunkIndex":-1,"data":"QQ=="})"),
         json(R"({"error":"缺少字段：chunkIndex","stage":"upload"})")},
        {{},
         json(R"({"action":"cancelDirectSaveUpload"})"),
         json(R"({"ok":false,"error":"缺少字段：requestId"})")},
        {{},
         json(R"({"action":"cancelDirectSaveUpload","requestId":"r"})"),
         json(R"({"ok":true,"event":"cancelled","requestId":"r","cancelled":true})")},
        {{}, commit("r", 1, 1, "r.bin"), uploadError},
        // The count and size rules are the store's; what shows here is that a failure at any
        // stage but the destination's ends the upload, whether a stage's or a field's.
        {uploadRequests("g", "xyz"),
         commit("g", 3, 1, "g.bin", {{"resourceUrl", "ftp://x"}}),
         {{"ok", false}, {"stage", "metadata"}}},
        {{}, commit("g", 3, 1, "g.bin"), uploadError},
        {uploadRequests("h", "xyz"),
         commit("h", 3, 1, ""),
         {{"error", "缺少字段：destinationFilename"}}},
        {{}, commit("h", 3, 1, "h.bin"), uploadError},
        {uploadRequests("k", "xyz"),
         commit("k", 3, 1, "k", {{"destinationDirectory", root.file("no")}}),
         {{"ok", false}, {"stage", "destination"}}},
        {{}, commit("k", 3, 1, "k"), complete},
        {uploadRequests("t", "xyz"),
         commit("t", 3, 1, "t.mp4", {{"materializeTracks", true}}),
         {{"ok", false}, {"error", "缺少字段：mediaKind"}, {"stage", "materialize"}}},
        {uploadRequests("m", "xyz"),
         commit("m", 3, 1, "m.mp4",
                {{"materializeTracks", true},
                 {"mediaKind", "video"},
                 {"resourceUrl", "https://example.com/v.mp4"},
                 {"audioResourceUrl", "https://example.com/a.m4a"}}),
         {{"path", dest + "m.mp4"}}},
        {{}, commit("k", 3, 1, "k"), uploadError},
        {uploadRequests("e", png),
         commit("e", png.size(), 1, "photo.jpg", {{"mediaKind", "image"}}),
         {{"path", dest + "photo.png"}, {"optimized", false}}},
        {uploadRequests("f", png),
         commit("f", png.size(), 1, "photo.png", {{"optimizeToWebP", true}}),
         {{"path", dest + "photo.webp"}, {"optimized", true}, {"originalBytes", png.size()}}},
        // Converted, then failed: the WebP file goes with the upload.
        {uploadRequests("w", png),
         commit("w", png.size(), 1, "w.png", {{"optimizeToWebP", true}, {"resourceUrl", "-"}}),
         {{"ok", false}, {"stage", "metadata"}}},
        // The same again: a conflict, then the retry only moves the prepared WebP file.
        {uploadRequests("d", png),
         commit("d", png.size(), 1, "photo.png", {{"optimizeToWebP", true}}),
         {{"event", "conflict"}, {"path", dest + "photo.webp"}}},
        {{},
         commit("d", 0, 0, "photo.png", {{"optimizeToWebP", true}, {"overwrite", true}}),
         {{"path", dest + "photo.webp"}, {"optimized", true}, {"originalBytes", 0}}}};
    // Left unfinished, for the host's end to remove.
    std::vector<object> requests = uploadRequests("unfinished", "xyz");
    std::vector<size_t> commits;
    for (const auto& [uploads, request, expected] : steps) {
        requests.insert(requests.end(), uploads.begin(), uploads.end());
        commits.push_back(requests.size());
        requests.push_back(request);
    }
    // A staging folder named relative to the host's working folder.
    const std::string working = std::filesystem::current_path();
    std::filesystem::current_path(root.path());
    const auto replies =
        testing::exchange(requests, {{},
                                     {{"BRINDLE_DIRECT_SAVE_DIR", "in"},
                                      {"BRINDLE_TOOLS_DIR", root.file("tools")},
                                      {"BRINDLE_IMAGE_CANCEL_DIR", root.file("markers")}}});
    std::filesystem::current_path(working);
    ASSERT_EQ(replies.size(), requests.size());
    for (size_t step = 0; step < steps.size(); ++step) {
        const object& reply = replies[commits[step]];
        for (const auto& [key, value] : std::get<2>(steps[step]))
            EXPECT_TRUE(reply.contains(key) && reply.at(key) == value) << step << key << reply;
    }
    EXPECT_EQ(readFile(dest + "k"), "xyz");
    EXPECT_EQ(readFile(dest + "photo.png"), png);
    EXPECT_EQ(readFile(dest + "m.mp4"), "media");
    EXPECT_TRUE(entries(root.file("in")).empty());
    EXPECT_EQ(replies[commits[0]].size(), 5u) << "the reply has nothing more";

    // A staging folder that cannot be trusted is the host's one and final reply.
    ASSERT_EQ(symlink(root.file("in").c_str(), root.file("link").c_str()), 0);
    EXPECT_EQ(testing::exchange({{{"action", "ping"}}, {{"action", "ping"}}},
                                {{}, {{"BRINDLE_DIRECT_SAVE_DIR", root.file("link")}}}),
              (std::vector<object>{{{"ok", false}, {"error", "直接保存暂存文件无效"}}}));
}

// A host that stays up: a URL library that it could not load for want of descriptors is reported
// as such (never as an unusable address), and loaded at the next commit once there are some again;
// its journal keeps to about the uploads it keeps, however many come and go after them.
TEST(DirectSaveUpload, HostThatStaysUp) {
    TemporaryDirectory root;
    writeFile(root.file("k"), "old");
    HostSession host({{}, {{"BRINDLE_DIRECT_SAVE_DIR", root.file("in")}}});
    for (const char* id : {"a", "b", "k"}) {
        for (const object& request : uploadRequests(id, "xyz"))
            host.ask(request);
    }
    // The same kinds of failure first: the sanitizers' type checks need descriptors of their own
    // the first time they see a type.
    const auto track = [](const std::string& kind) {
        return object{{"action", "materializeDownload"},
                      {"path", "/-"},
                      {"mediaUrl", "https://a.example/v.mp4"},
                      {"mediaKind", kind}};
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
