#include "MetadataCore/ImageOptimizer.h"
#include "MetadataCore/ImageOptimizerError.h"

#include "Support/AttributeReadout.h"
#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using Names = std::vector<std::string>;
using Case = ImageOptimizerError::Case;

// A picture with varying transparency, including fully transparent pixels whose colour must
// survive as well.
const std::string transparentPicture =
    "testsrc=size=96x64,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='if(lt(X,8),0,min(255,"
    "X*3))'";
// Uniform noise: its lossless WebP is larger than the PNG.
const std::string noise = "color=gray:size=16x16,format=rgb24,noise=alls=100:allf=u";

// Raw 8-bit RGBA pixels (straight alpha) of an image that must be of `format`, a demuxer.
std::string decodedRGBA(const std::string& path, const std::string& format = "png_pipe") {
    return runTool("ffmpeg", {"-hide_banner", "-loglevel", "error", "-f", format, "-i", path, "-f",
                              "rawvideo", "-pix_fmt", "rgba", "-"});
}

template <class Call> std::optional<Case> failureOf(const Call& call) {
    return caseOf<ImageOptimizerError>(call);
}

using ImageConversion = ImageFolders;

ImageOptimizationResult optimize(const std::string& path,
                                 const std::function<bool()>& isCancelled = {}) {
    return ImageOptimizer().optimize(path, isCancelled);
}

// A PNG that shrinks becomes a WebP with its pixels, mode and marks (not attributes of no meaning
// to it) under a free name: beside another's file, with a temporary name shortened to stay under
// 255 bytes, or exchanged in place under a WebP name that held the PNG.
TEST_F(ImageConversion, ShrinkingPNGBecomesWebPWithItsPixelsModeAndMarksUnderAFreeName) {
    const std::string long244 = repeated("图", 80);
    writeFile(image("image.webp"), "someone else's");
    const std::map<std::string, std::optional<std::string>> marks = {
        {"user.com.apple.quarantine", "0083;65f0a1b2;Chrome;"},
        {"user.xdg.origin.url", "https://a.example/x.png"},
        {"user.com.apple.provenance", "\x01\x02"},
        {"user.unrelated", std::nullopt}};
    const std::string cases[][2] = {{"image.png", "image (1).webp"},
                                    {long244 + ".png", long244 + ".webp"},
                                    {"photo.WEBP", "photo.WEBP"}};
    for (const auto& [name, converted] : cases) {
        const std::string png = makePNG(name, transparentPicture);
        fs::permissions(png, fs::perms::owner_read | fs::perms::owner_write);
        for (const auto& [attribute, value] : marks)
            setRawAttribute(png, attribute, value.value_or("x"));
        const std::string pixels = decodedRGBA(png);
        const auto originalBytes = static_cast<std::int64_t>(fs::file_size(png));
        const ino_t inode = statusOf(png).st_ino;

        const auto result = optimize(png);
        const std::string webp = image(converted);
        ASSERT_EQ(result, (ImageOptimizationResult{webp, true, originalBytes,
                                                   static_cast<std::int64_t>(fs::file_size(webp)),
                                                   "smaller"}));
        EXPECT_LT(result.outputBytes, result.originalBytes);
        EXPECT_EQ(decodedRGBA(webp, "webp_pipe"), pixels);
        EXPECT_EQ(fs::status(webp).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_NE(statusOf(webp).st_ino, inode);
        for (const auto& [attribute, value] : marks)
            EXPECT_EQ(rawAttribute(webp, attribute), value) << attribute;
    }
    EXPECT_EQ(readFile(image("image.webp")), "someone else's");
    EXPECT_EQ(entries(images),
              (Names{"image (1).webp", "image.webp", "photo.WEBP", long244 + ".webp"}));
}

TEST_F(ImageConversion, InputReplacedWhileEncodingIsLeftToItsNewOwner) {
    const std::string png = makePNG("image.png");
    const std::string pixels = decodedRGBA(png);
    // The stand-ins encode with a file of their own in the input's place; the second puts it back.
    const std::string swap = "cd '" + images + "' && mv image.png aside && echo > image.png && ";
    // Whether the encoder succeeds or fails, the file in the input's place is not the one judged.
    for (const char* encoder : {"exec /usr/bin/cwebp \"$@\"", "exit 1"}) {
        installEncoder(swap + encoder);
        EXPECT_EQ(failureOf([&] { optimize(png); }), Case::targetChanged) << encoder;
        EXPECT_EQ(readFile(png), "\n");
        fs::rename(image("aside"), png);
    }
    installEncoder(swap + "/usr/bin/cwebp \"$@\"; mv aside image.png");
    EXPECT_EQ(optimize(png).reason, "smaller");
    EXPECT_TRUE(decodedRGBA(image("image.webp"), "webp_pipe") == pixels);
}

TEST_F(ImageConversion, CancellationStopsASlowEncoderAndUnusablePathsRunNone) {
    // The stand-in records its process id and then takes far longer than any test may wait.
    installEncoder("echo $$ > \"$0.pid\"\n: > \"${14}\"\nexec sleep 600");
    const std::string png = makePNG("image.png");
    int checks = 0;
    const auto isCancelled = [&] { return fs::exists(tools + "/cwebp.pid") && ++checks >= 3; };

    EXPECT_EQ(failureOf([&] { optimize(png, isCancelled); }), Case::cancelled);

    // The encoder has ended. The input left as it was shows in the host's test; the output this
    // stand-in made goes.
    EXPECT_EQ(kill(std::stoi(readFile(tools + "/cwebp.pid")), 0), -1);
    // Cancelled before the start, nothing runs, not even for a path that does not exist.
    installEncoder("touch \"$0.ran\"");
    for (const std::string& path : {png, image("missing.png")})
        EXPECT_EQ(failureOf([&] { optimize(path, [] { return true; }); }), Case::cancelled);
    // Unusable paths are refused and a missing file is unavailable, equally without a run. A
    // link's refusal, its reason and that it is not retried show in the host's reply.
    for (const std::string& path :
         {std::string(), std::string("image.png"), images, image("a") + std::string(1, '\0') + "b",
          "/" + std::string(8192, 'a')})
        EXPECT_EQ(failureOf([&] { optimize(path); }), Case::invalidPath) << path.size();
    EXPECT_EQ(failureOf([&] { optimize(image("missing.png")); }), Case::targetUnavailable);
    EXPECT_FALSE(fs::exists(tools + "/cwebp.ran"));
    EXPECT_EQ(entries(images), Names{"image.png"});
}

// Each leaves the image as it was. A noisy image does not shrink; an animation or a lossy source
// is decided without running the encoder. An empty reason stands for the error of an output that
// is not a WebP file of the encoder's own (12 bytes are too short).
TEST_F(ImageConversion, ImagesLeftAsTheyWere) {
    makePNG("image.png");
    makePNG("noise.png", noise);
    makeImage(image("animated.png"), "testsrc=size=32x32:rate=5:duration=0.6",
              {"-frames:v", "3", "-plays", "0", "-f", "apng"});
    makeImage(image("photo.jpg"), "testsrc=size=32x32", {"-f", "image2", "-c:v", "mjpeg"});
    const std::string sh = "#!/bin/sh\n";
    const std::string unrun = sh + "touch \"$0.ran\"; exit 1";
    const std::string cases[][3] = {
        {"noise.png", sh + "exec /usr/bin/cwebp \"$@\"", "not-smaller"},
        {"animated.png", unrun, "unsupported-image"},
        {"photo.jpg", unrun, "lossy-source"},
        {"image.png", "", "encoder-missing"},
        {"image.png", "#!/nonexistent/interpreter", "conversion-unavailable"},
        {"image.png", sh + ": > \"${14}\"; exit 3", "unsupported-image"},
        {"image.png", sh + "printf 'RIFF\\0\\0\\0\\0WEBX1' > \"${14}\"", ""},
        {"image.png", sh + "printf 'RIFF\\0\\0\\0\\0WEBP' > \"${14}\"", ""},
        {"image.png", sh + "ln -s \"${12}\" \"${14}\"", ""},
        {"image.png", sh + ":", ""}};
    for (const auto& [name, script, reason] : cases) {
        fs::remove(tools + "/cwebp");
        if (!script.empty())
            writeFile(tools + "/cwebp", script + "\n", 0755);
        const std::string path = image(name);
        const std::string before = readFile(path);
        const ino_t inode = statusOf(path).st_ino;
        if (reason.empty()) {
            EXPECT_EQ(failureOf([&] { optimize(path); }), Case::invalidPath) << script;
        } else {
            ImageOptimizationResult result = optimize(path);
            // The encoder's output that was not kept is only known to be no smaller.
            if (reason == "not-smaller" && result.outputBytes >= result.originalBytes)
                result.outputBytes = result.originalBytes;
            const auto bytes = static_cast<std::int64_t>(before.size());
            EXPECT_EQ(result, (ImageOptimizationResult{path, false, bytes, bytes, reason}))
                << script;
        }
        EXPECT_EQ(readFile(path), before) << script;
        EXPECT_EQ(statusOf(path).st_ino, inode);
        EXPECT_FALSE(fs::exists(tools + "/cwebp.ran"));
        EXPECT_EQ(entries(images), (Names{"animated.png", "image.png", "noise.png", "photo.jpg"}));
    }
}

} // namespace
} // namespace brindle
