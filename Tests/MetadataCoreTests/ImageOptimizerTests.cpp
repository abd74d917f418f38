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

template <class Call> std::optional<Case> failureOf(const Call& call) {
    return caseOf<ImageOptimizerError>(call);
}

class ImageConversion : public ImageFolders {
protected:
    ImageOptimizationResult optimize(const std::string& path,
                                     const std::function<bool()>& isCancelled = {}) {
        return ImageOptimizer().optimize(path, isCancelled);
    }

    // A result that leaves the image as it was.
    ImageOptimizationResult unchanged(const std::string& path, const std::string& reason) {
        const auto bytes = static_cast<std::int64_t>(fs::file_size(path));
        return {path, false, bytes, bytes, reason};
    }
};

TEST_F(ImageConversion, ImagesThatCannotGainAreLeftAlone) {
    const std::string png = makePNG("noise.png", noise);
    const std::string before = readFile(png);
    const ino_t inode = statusOf(png).st_ino;
    const auto result = optimize(png);
    EXPECT_EQ(result, (ImageOptimizationResult{png, false, static_cast<int64_t>(before.size()),
                                               result.outputBytes, "not-smaller"}));
    EXPECT_GE(result.outputBytes, result.originalBytes);
    EXPECT_EQ(readFile(png), before);
    EXPECT_EQ(statusOf(png).st_ino, inode);

    // The others must be decided without running the encoder.
    installEncoder("touch \"$0.ran\"; exit 1");
    runTool("ffmpeg", {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                       "testsrc=size=32x32:rate=5:duration=0.6", "-plays", "0", "-f", "apng",
                       image("animated.png")});
    makeImage(image("photo.jpg"), "testsrc=size=32x32", {"-f", "image2", "-c:v", "mjpeg"});
    for (const std::string name : {"animated.png", "photo.jpg"}) {
        const std::string reason = name == "photo.jpg" ? "lossy-source" : "unsupported-image";
        const std::string contents = readFile(image(name));
        EXPECT_EQ(optimize(image(name)), unchanged(image(name), reason)) << name;
        EXPECT_EQ(readFile(image(name)), contents) << name;
    }
    EXPECT_FALSE(fs::exists(tools + "/cwebp.ran"));
    EXPECT_EQ(entries(images), (Names{"animated.png", "noise.png", "photo.jpg"}));
}

TEST_F(ImageConversion, ShrinkingPNGBecomesWebPWithItsPixelsModeAndMarksUnderAFreeName) {
    const std::string png = makePNG("image.png", transparentPicture);
    fs::permissions(png, fs::perms::owner_read | fs::perms::owner_write);
    const std::string quarantine = "0083;65f0a1b2;Chrome;";
    setRawAttribute(png, "user.com.apple.quarantine", quarantine);
    setRawAttribute(png, "user.xdg.origin.url", "https://a.example/x.png");
    setRawAttribute(png, "user.unrelated", "x");
    const std::string pixels = decodedRGBA(png);
    const auto originalBytes = static_cast<std::int64_t>(fs::file_size(png));
    writeFile(image("image.webp"), "someone else's");

    const auto result = optimize(png);
    const std::string webp = image("image (1).webp");
    ASSERT_EQ(result,
              (ImageOptimizationResult{webp, true, originalBytes,
                                       static_cast<std::int64_t>(fs::file_size(webp)), "smaller"}));
    EXPECT_LT(result.outputBytes, result.originalBytes);
    EXPECT_EQ(decodedWebPRGBA(webp), pixels);
    EXPECT_EQ(fs::status(webp).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(readFile(image("image.webp")), "someone else's");
    EXPECT_EQ(rawAttribute(webp, "user.com.apple.quarantine"), quarantine);
    EXPECT_EQ(rawAttribute(webp, "user.xdg.origin.url"), "https://a.example/x.png");
    EXPECT_EQ(rawAttribute(webp, "user.com.apple.provenance"), std::nullopt);
    EXPECT_EQ(rawAttribute(webp, "user.unrelated"), std::nullopt);

    // 244 bytes: the temporary name must be shortened to stay under 255.
    std::string name;
    for (int i = 0; i < 80; ++i)
        name += "图";
    const std::string plain = optimize(makePNG(name + ".png")).path;
    EXPECT_EQ(plain, image(name + ".webp"));
    EXPECT_EQ(rawAttribute(plain, "user.com.apple.quarantine"), std::nullopt);

    // A WebP name holding a PNG is exchanged in place.
    const std::string named = image("photo.WEBP");
    fs::rename(makePNG("photo.png", transparentPicture), named);
    const ino_t inode = statusOf(named).st_ino;
    EXPECT_EQ(optimize(named).path, named);
    EXPECT_NE(statusOf(named).st_ino, inode);
    EXPECT_EQ(decodedWebPRGBA(named), pixels);
    EXPECT_EQ(entries(images),
              (Names{"image (1).webp", "image.webp", "photo.WEBP", name + ".webp"}));
}

// A link's refusal, its reason and that it is not retried show in the host's reply.
TEST_F(ImageConversion, UnusablePathsAreRefused) {
    makePNG("image.png");
    for (const std::string& path :
         {std::string(), std::string("image.png"), images, image("a") + std::string(1, '\0') + "b",
          "/" + std::string(8192, 'a')})
        EXPECT_EQ(failureOf([&] { optimize(path); }), Case::invalidPath) << path.size();
    EXPECT_EQ(failureOf([&] { optimize(image("missing.png")); }), Case::targetUnavailable);
    EXPECT_EQ(entries(images), Names{"image.png"});
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
    EXPECT_TRUE(decodedWebPRGBA(image("image.webp")) == pixels);
}

TEST_F(ImageConversion, CancellationStopsASlowEncoder) {
    // The stand-in records its process id and then takes far longer than any test may wait.
    installEncoder("echo $$ > \"$0.pid\"\n: > \"${14}\"\nexec sleep 600");
    const std::string png = makePNG("image.png");
    int checks = 0;
    const auto isCancelled = [&] { return fs::exists(tools + "/cwebp.pid") && ++checks >= 3; };

    EXPECT_EQ(failureOf([&] { optimize(png, isCancelled); }), Case::cancelled);

    const pid_t encoder = std::stoi(readFile(tools + "/cwebp.pid"));
    // The input left as it was shows in the host's test; the output this stand-in made goes.
    EXPECT_EQ(kill(encoder, 0), -1) << "the encoder is still running";
    EXPECT_EQ(entries(images), Names{"image.png"});
    // Cancelled before the start, nothing runs, not even for a path that does not exist.
    installEncoder("touch \"$0.ran\"");
    for (const std::string& path : {png, image("missing.png")})
        EXPECT_EQ(failureOf([&] { optimize(path, [] { return true; }); }), Case::cancelled);
    EXPECT_FALSE(fs::exists(tools + "/cwebp.ran"));
}

TEST_F(ImageConversion, EncoderMissingFailingOrNotWritingAWebPChangesNothing) {
    const std::string png = makePNG("image.png");
    const std::string before = readFile(png);
    // Reasons are results that leave the image alone; an empty one stands for the error of an
    // output that is not a WebP file of the encoder's own (12 bytes are too short).
    const std::pair<std::string, std::string> cases[] = {
        {"", "encoder-missing"},
        {"#!/nonexistent/interpreter", "conversion-unavailable"},
        {"#!/bin/sh\n: > \"${14}\"; exit 3", "unsupported-image"},
        {"#!/bin/sh\nkill -9 $$", "unsupported-image"},
        {"#!/bin/sh\nprintf 'RIFF\\0\\0\\0\\0WEBX1' > \"${14}\"", ""},
        {"#!/bin/sh\nprintf 'RIFF\\0\\0\\0\\0WEBP' > \"${14}\"", ""},
        {"#!/bin/sh\nln -s \"${12}\" \"${14}\"", ""},
        {"#!/bin/sh\nmkdir \"${14}\"", ""},
        {"#!/bin/sh\n:", ""}};
    for (const auto& [script, reason] : cases) {
        fs::remove(tools + "/cwebp");
        if (!script.empty())
            writeFile(tools + "/cwebp", script + "\n", 0755);
        if (reason.empty())
            EXPECT_EQ(failureOf([&] { optimize(png); }), Case::invalidPath) << script;
        else
            EXPECT_EQ(optimize(png), unchanged(png, reason)) << script;
        EXPECT_EQ(entries(images), Names{"image.png"}) << script;
        EXPECT_EQ(readFile(png), before);
    }
}

} // namespace
} // namespace brindle
