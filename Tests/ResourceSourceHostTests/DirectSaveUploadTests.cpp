// The upload actions through the built host, and its staging folder at start and end.

#include "Support/HostProcess.h"
#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <boost/beast/core/detail/base64.hpp>
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace brindle::testing {
namespace {

using boost::json::object;

// Requests that stream `bytes` under `id` in one chunk; chunks in order are the store's test.
std::vector<object> upload(const std::string& id, const std::string& bytes) {
    namespace base64 = boost::beast::detail::base64;
    std::string text(base64::encoded_size(bytes.size()), '\0');
    text.resize(base64::encode(text.data(), bytes.data(), bytes.size()));
    return {{{"action", "beginDirectSaveUpload"}, {"requestId", id}},
            {{"action", "appendDirectSaveUpload"},
             {"requestId", id},
             {"chunkIndex", 0},
             {"data", text}}};
}

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
        extra.insert({{"action", "commitDirectSaveUpload"},
                      {"requestId", id},
                      {"totalBytes", bytes},
                      {"chunkCount", chunks},
                      {"destinationDirectory", root.file("dest")},
                      {"destinationFilename", name},
                      {"resourceUrl", "https://example.com/a"}});
        return extra;
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
        {upload("g", "xyz"),
         commit("g", 3, 1, "g.bin", {{"resourceUrl", "ftp://x"}}),
         {{"ok", false}, {"stage", "metadata"}}},
        {{}, commit("g", 3, 1, "g.bin"), uploadError},
        {upload("h", "xyz"), commit("h", 3, 1, ""), {{"error", "缺少字段：destinationFilename"}}},
        {{}, commit("h", 3, 1, "h.bin"), uploadError},
        {upload("k", "xyz"),
         commit("k", 3, 1, "k", {{"destinationDirectory", root.file("no")}}),
         {{"ok", false}, {"stage", "destination"}}},
        {{}, commit("k", 3, 1, "k"), complete},
        {upload("t", "xyz"),
         commit("t", 3, 1, "t.mp4", {{"materializeTracks", true}}),
         {{"ok", false}, {"error", "缺少字段：mediaKind"}, {"stage", "materialize"}}},
        {upload("m", "xyz"),
         commit("m", 3, 1, "m.mp4",
                {{"materializeTracks", true},
                 {"mediaKind", "video"},
                 {"resourceUrl", "https://example.com/v.mp4"},
                 {"audioResourceUrl", "https://example.com/a.m4a"}}),
         {{"path", dest + "m.mp4"}}},
        {{}, commit("k", 3, 1, "k"), uploadError},
        {upload("e", png),
         commit("e", png.size(), 1, "photo.jpg", {{"mediaKind", "image"}}),
         {{"path", dest + "photo.png"}, {"optimized", false}}},
        {upload("f", png),
         commit("f", png.size(), 1, "photo.png", {{"optimizeToWebP", true}}),
         {{"path", dest + "photo.webp"}, {"optimized", true}, {"originalBytes", png.size()}}},
        // The same again: a conflict, then the retry only moves the prepared WebP file.
        {upload("d", png),
         commit("d", png.size(), 1, "photo.png", {{"optimizeToWebP", true}}),
         {{"event", "conflict"}, {"path", dest + "photo.webp"}}},
        {{},
         commit("d", 0, 0, "photo.png", {{"optimizeToWebP", true}, {"overwrite", true}}),
         {{"path", dest + "photo.webp"}, {"optimized", true}, {"originalBytes", 0}}}};
    // Left unfinished, for the host's end to remove.
    std::vector<object> requests = upload("unfinished", "xyz");
    std::vector<size_t> commits;
    for (const auto& [uploads, request, expected] : steps) {
        requests.insert(requests.end(), uploads.begin(), uploads.end());
        commits.push_back(requests.size());
        requests.push_back(request);
    }
    const auto replies =
        testing::exchange(requests, {{},
                                     {{"BRINDLE_DIRECT_SAVE_DIR", root.file("in")},
                                      {"BRINDLE_TOOLS_DIR", root.file("tools")},
                                      {"BRINDLE_IMAGE_CANCEL_DIR", root.file("markers")}}});
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

} // namespace
} // namespace brindle::testing
