// "optimizeImage" through the built host: the reply, the stages of its failures, tagging where the
// image ends up, cancellation from a second host process, and the encoder in the host's bundle.
// The conversion's own rules are tested in-process.

#include "Support/AttributeReadout.h"
#include "Support/HostProcess.h"
#include "Support/MediaTools.h"

#include <boost/json/array.hpp>

#include <chrono>
#include <filesystem>
#include <thread>

namespace brindle::testing {
namespace {

namespace fs = std::filesystem;
using boost::json::object;

class OptimizeImageAction : public ImageFolders {
protected:
    object request(const std::string& path, const char* page = "https://u:p@example.com/gallery") {
        return {{"action", "optimizeImage"}, {"path", path}, {"pageUrl", page}};
    }

    ProcessOptions options{{}, {{"BRINDLE_IMAGE_CANCEL_DIR", root.file("markers")}}};
};

TEST_F(OptimizeImageAction, RepliesWhereTheImageEndedUpTaggedOrTheFailedStage) {
    const std::string png = makePNG("picture.png");
    const auto originalBytes = static_cast<int64_t>(fs::file_size(png));
    fs::create_symlink(makePNG("target.png"), image("link.png"));
    makeImage(image("photo.jpg"), "testsrc=size=64x48", {"-f", "image2", "-c:v", "mjpeg"});
    const auto replies =
        exchange({request(png), request(image("link.png")),
                  request(makePNG("untagged.png"), "ftp://x/"), request(image("photo.jpg"))},
                 options);
    const std::string webp = image("picture.webp");
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0], (object{{"ok", true},
                                  {"urls", {"https://example.com/gallery"}},
                                  {"optimized", true},
                                  {"path", webp},
                                  {"originalBytes", originalBytes},
                                  {"outputBytes", static_cast<int64_t>(fs::file_size(webp))},
                                  {"reason", "smaller"}}));
    // A JPEG is left alone, but tagged all the same.
    EXPECT_EQ(replies[3].at("reason"), "lossy-source");
    for (const std::string& path : {webp, image("photo.jpg")})
        EXPECT_EQ(readAttributesIndependently(path).at("whereFroms"),
                  (boost::json::array{"https://example.com/gallery"}));
    EXPECT_EQ(replies[1], json(R"({"ok":false,"stage":"optimize","retryable":false,
        "error":"下载图片文件尚未就绪：Too many levels of symbolic links"})"));
    // The conversion stays when only the tagging fails afterwards.
    EXPECT_EQ(replies[2], json(R"({"ok":false,"error":"没有可写入的 HTTP/HTTPS 来源 URL",
                                   "stage":"metadata","retryable":false})"));
    EXPECT_EQ(entries(images), (std::vector<std::string>{"link.png", "photo.jpg", "picture.webp",
                                                         "target.png", "untagged.webp"}));
}

TEST_F(OptimizeImageAction, SecondHostCancelsARunningConversion) {
    // An encoder that announces itself and then takes far longer than the test may wait.
    const std::string started = root.file("encoder-started");
    installEncoder(": > '" + started + "'\nexec sleep 600");
    const std::string png = makePNG("slow.png");
    const std::string before = readFile(png);
    object request = this->request(png);
    request["requestId"] = "running-1";
    object firstReply;
    std::thread first([&] { firstReply = singleReply(request, options); });
    for (int attempt = 0; attempt < 600 && !exists(started); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(exists(started)) << "the encoder never started";

    EXPECT_EQ(
        singleReply({{"action", "cancelImageOptimization"}, {"requestId", "running-1"}}, options),
        json(R"({"ok":true,"cancelled":true,"requestId":"running-1"})"));
    first.join();
    EXPECT_EQ(firstReply, json(R"({"ok":false,"error":"已取消无损 WebP 转换","stage":"optimize",
                                   "retryable":false,"requestId":"running-1"})"));
    EXPECT_EQ(readFile(png), before);
    EXPECT_FALSE(exists(root.file("markers/running-1")));
    EXPECT_EQ(entries(images), std::vector<std::string>{"slow.png"});
}

TEST_F(OptimizeImageAction, HostFindsTheEncoderOnlyInItsOwnBundle) {
    // No override (an empty one is ignored) and an empty data folder: only the bundle's own
    // tools folder can supply the encoder.
    options.environment = {{"BRINDLE_TOOLS_DIR", ""}, {"XDG_DATA_HOME", root.file("data")}};
    const object loose = singleReply(request(makePNG("bundled.png")), options);
    EXPECT_EQ(loose.at("optimized"), false);
    EXPECT_EQ(loose.at("reason"), "encoder-missing");

    const ProcessResult bundled =
        runProcess(std::string(BRINDLE_BUNDLE_DIR) + "/Contents/MacOS/brindle-host",
                   frameJSON(request(image("bundled.png"))), options);
    const auto replies = parseFrames(bundled.standardOutput);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].at("optimized"), true) << replies[0];
    EXPECT_EQ(replies[0].at("path"), image("bundled.webp").c_str());
}

} // namespace
} // namespace brindle::testing
