#include "MetadataCore/ImageOptimizer.h"
#include "MetadataCore/ImageOptimizerError.h"

#include "MetadataCore/BundledToolLocation.h"
#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TemporaryDirectory;
using testing::writeFile;

constexpr const char* quarantine = "user.com.apple.quarantine";

struct stat statusOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status;
}

std::vector<std::string> entries(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> attribute(const std::string& path, const char* name) {
    char value[256];
    const ssize_t size = lgetxattr(path.c_str(), name, value, sizeof value);
    if (size < 0)
        return std::nullopt;
    return std::string(value, static_cast<std::size_t>(size));
}

ImageOptimizerError::Case failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ImageOptimizerError& error) {
        return error.errorCase();
    }
    ADD_FAILURE() << "no ImageOptimizerError";
    return ImageOptimizerError::Case::invalidPath;
}

// Images live in `images`; the encoder is whatever `tools` holds as "cwebp": the real one unless
// a test installs a stand-in.
class ImageConversion : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(images());
        fs::create_directory(tools());
        fs::create_symlink("/usr/bin/cwebp", tools() + "/cwebp");
        setenv(BundledToolLocation::toolsDirectoryVariable, tools().c_str(), 1);
    }
    void TearDown() override { unsetenv(BundledToolLocation::toolsDirectoryVariable); }

    std::string images() const { return root.path() + "/images"; }
    std::string tools() const { return root.path() + "/tools"; }
    std::string image(const std::string& name) const { return images() + "/" + name; }

    // A picture with varying transparency, including fully transparent pixels whose colour
    // must survive as well.
    std::string makePNG(const std::string& name, const std::string& size = "96x64") {
        const std::string path = image(name);
        testing::makeImage(path,
                           "testsrc=size=" + size +
                               ",format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='if(lt(X,8),0,"
                               "min(255,X*3))'",
                           {"-f", "image2", "-c:v", "png"});
        return path;
    }

    // Random pixels: the lossless WebP of these is larger than the PNG.
    std::string makeIncompressiblePNG(const std::string& name) {
        std::mt19937 generator(7);
        std::string pixels(16 * 16 * 3, '\0');
        for (char& byte : pixels)
            byte = static_cast<char>(generator() & 0xFF);
        const std::string raw = root.file("pixels.rgb");
        writeFile(raw, pixels);
        const std::string path = image(name);
        testing::runTool("ffmpeg", {"-hide_banner", "-loglevel", "error", "-y", "-f", "rawvideo",
                                    "-pix_fmt", "rgb24", "-s", "16x16", "-i", raw, "-frames:v", "1",
                                    "-f", "image2", "-c:v", "png", path});
        return path;
    }

    // Replaces the encoder with a shell script; "$@" are the encoder's arguments.
    void installEncoder(const std::string& script) {
        fs::remove(tools() + "/cwebp");
        writeFile(tools() + "/cwebp", "#!/bin/sh\n" + script + "\n", 0755);
    }

    ImageOptimizationResult optimize(const std::string& path,
                                     const std::function<bool()>& isCancelled = {}) {
        return ImageOptimizer().optimize(path, isCancelled);
    }

    TemporaryDirectory root;
};

TEST_F(ImageConversion, ShrinkingPNGBecomesWebPWithTheSamePixels) {
    const std::string png = makePNG("image.png");
    const std::string pixels = testing::decodedRGBA(png);
    const auto originalBytes = statusOf(png).st_size;

    const auto result = optimize(png);

    const std::string webp = image("image.webp");
    ASSERT_EQ(result,
              (ImageOptimizationResult{webp, true, originalBytes,
                                       static_cast<std::int64_t>(fs::file_size(webp)), "smaller"}));
    EXPECT_LT(result.outputBytes, result.originalBytes);
    EXPECT_EQ(entries(images()), std::vector<std::string>{"image.webp"});
    EXPECT_EQ(readFile(webp).substr(8, 4), "WEBP");
    EXPECT_EQ(testing::decodedWebPRGBA(webp), pixels);
}

TEST_F(ImageConversion, PNGThatDoesNotShrinkIsLeftAlone) {
    const std::string png = makeIncompressiblePNG("noise.png");
    const std::string before = readFile(png);
    const auto status = statusOf(png);

    const auto result = optimize(png);

    EXPECT_EQ(result.path, png);
    EXPECT_FALSE(result.optimized);
    EXPECT_EQ(result.reason, "not-smaller");
    EXPECT_EQ(result.originalBytes, static_cast<std::int64_t>(before.size()));
    EXPECT_GE(result.outputBytes, result.originalBytes);
    EXPECT_EQ(entries(images()), std::vector<std::string>{"noise.png"});
    EXPECT_EQ(readFile(png), before);
    EXPECT_EQ(statusOf(png).st_ino, status.st_ino);
}

TEST_F(ImageConversion, ImagesThatAreNotStaticEightBitPNGs) {
    // Every case must be decided without running the encoder.
    installEncoder("touch \"$0.ran\"; exit 1");
    const std::string wide = image("wide.png");
    testing::makeImage(wide, "testsrc=size=32x32", {"-pix_fmt", "rgb48be", "-f", "image2"});
    const std::string animated = image("animated.png");
    testing::runTool("ffmpeg", {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                "testsrc=size=32x32:rate=5:duration=0.6", "-plays", "0", "-f",
                                "apng", animated});
    const std::string jpeg = image("photo.jpg");
    testing::makeImage(jpeg, "testsrc=size=32x32", {"-f", "image2", "-c:v", "mjpeg"});
    // Start of image, then an extended sequential frame header with 12-bit samples.
    const std::string deepJPEG = image("deep.jpg");
    static constexpr char deep[] = "\xFF\xD8\xFF\xC1\x00\x0B\x0C\x00\x10\x00\x10\x01\x01\x11\x00"
                                   "\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00\x00\xFF\xD9";
    writeFile(deepJPEG, std::string(deep, sizeof deep - 1));
    const std::string tiny = image("tiny.png");
    writeFile(tiny, std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\0\1\0\0\0\1\x08", 25));
    const std::string gif = image("anim.gif");
    testing::makeImage(gif, "testsrc=size=32x32", {"-f", "gif"});

    const std::pair<std::string, std::string> cases[] = {
        {wide, "unsupported-image"}, {animated, "unsupported-image"},
        {jpeg, "lossy-source"},      {deepJPEG, "unsupported-image"},
        {tiny, "unsupported-image"}, {gif, "unsupported-image"},
    };
    for (const auto& [path, reason] : cases) {
        const std::string before = readFile(path);
        const auto bytes = static_cast<std::int64_t>(before.size());
        EXPECT_EQ(optimize(path), (ImageOptimizationResult{path, false, bytes, bytes, reason}))
            << path;
        EXPECT_EQ(readFile(path), before);
    }
    EXPECT_FALSE(fs::exists(tools() + "/cwebp.ran"));
    EXPECT_EQ(entries(images()).size(), std::size(cases));
}

TEST_F(ImageConversion, NameClashTakesTheNextNumber) {
    const std::string png = makePNG("image.png");
    writeFile(image("image.webp"), "someone else's");
    writeFile(image("image (1).webp"), "and another");

    const auto result = optimize(png);

    EXPECT_EQ(result.path, image("image (2).webp"));
    EXPECT_TRUE(result.optimized);
    EXPECT_EQ(readFile(image("image.webp")), "someone else's");
    EXPECT_EQ(readFile(image("image (1).webp")), "and another");
    EXPECT_EQ(entries(images()),
              (std::vector<std::string>{"image (1).webp", "image (2).webp", "image.webp"}));
}

TEST_F(ImageConversion, WebPNameHoldingAPNGIsExchangedInPlace) {
    makePNG("photo.png");
    const std::string named = image("photo.WEBP");
    fs::rename(image("photo.png"), named);
    const std::string pixels = testing::decodedRGBA(named);
    const auto before = statusOf(named);

    const auto result = optimize(named);

    EXPECT_EQ(result.path, named);
    EXPECT_EQ(result.reason, "smaller");
    EXPECT_NE(statusOf(named).st_ino, before.st_ino);
    EXPECT_EQ(testing::decodedWebPRGBA(named), pixels);
    EXPECT_EQ(entries(images()), std::vector<std::string>{"photo.WEBP"});
}

TEST_F(ImageConversion, SymbolicLinkIsRefused) {
    const std::string png = makePNG("image.png");
    const std::string link = image("link.png");
    fs::create_symlink(png, link);
    try {
        optimize(link);
        FAIL() << "a link was converted";
    } catch (const ImageOptimizerError& error) {
        EXPECT_EQ(error.errorCase(), ImageOptimizerError::Case::targetUnavailable);
        EXPECT_EQ(error.errorNumber(), ELOOP);
        EXPECT_FALSE(error.isRetryable());
        EXPECT_EQ(std::string(error.what()),
                  "下载图片文件尚未就绪：" + std::string(strerror(ELOOP)));
    }
    EXPECT_EQ(entries(images()), (std::vector<std::string>{"image.png", "link.png"}));
}

TEST_F(ImageConversion, UnusablePathsAndFiles) {
    using Case = ImageOptimizerError::Case;
    for (const std::string& path :
         {std::string(), std::string("image.png"), image("a") + std::string(1, '\0') + "b",
          "/" + std::string(8192, 'a')})
        EXPECT_EQ(failureOf([&] { optimize(path); }), Case::invalidPath) << path.size();
    EXPECT_EQ(failureOf([&] { optimize(images()); }), Case::invalidPath);
    EXPECT_EQ(failureOf([&] { optimize(image("missing.png")); }), Case::targetUnavailable);
    EXPECT_EQ(std::string(ImageOptimizerError::invalidPath().what()), "下载图片文件无效");
}

TEST_F(ImageConversion, InputReplacedWhileEncodingIsLeftToItsNewOwner) {
    // The stand-in swaps a copy in under the input's name, then encodes as usual.
    installEncoder("cp \"${12}\" \"${12}.new\" && mv \"${12}.new\" \"${12}\"\n"
                   "exec /usr/bin/cwebp \"$@\"");
    const std::string png = makePNG("image.png");
    const std::string before = readFile(png);

    EXPECT_EQ(failureOf([&] { optimize(png); }), ImageOptimizerError::Case::targetChanged);

    EXPECT_EQ(entries(images()), std::vector<std::string>{"image.png"});
    EXPECT_EQ(readFile(png), before);
    EXPECT_TRUE(ImageOptimizerError::targetChanged().isRetryable());
}

TEST_F(ImageConversion, EncoderGetsExactlyItsArguments) {
    installEncoder("printf '%s\\n' \"$@\" > \"$0.arguments\"\nexec /usr/bin/cwebp \"$@\"");
    const std::string png = makePNG("image.png");

    ASSERT_TRUE(optimize(png).optimized);

    const std::string recorded = readFile(tools() + "/cwebp.arguments");
    std::vector<std::string> arguments;
    for (std::size_t start = 0; start < recorded.size();) {
        const std::size_t end = recorded.find('\n', start);
        arguments.push_back(recorded.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(arguments.size(), 14u);
    const std::vector<std::string> fixed = {"-quiet", "-lossless", "-z",       "6",
                                            "-q",     "100",       "-alpha_q", "100",
                                            "-exact", "-metadata", "all"};
    EXPECT_EQ(std::vector<std::string>(arguments.begin(), arguments.begin() + 11), fixed);
    EXPECT_EQ(arguments[11], png);
    EXPECT_EQ(arguments[12], "-o");
    const std::string output = arguments[13];
    EXPECT_EQ(fs::path(output).parent_path(), images());
    EXPECT_TRUE(output.starts_with(image(".image.png.")));
    EXPECT_TRUE(output.ends_with(".webp"));
    const std::string uuid = fs::path(output).filename().string().substr(11, 36);
    EXPECT_EQ(uuid.size(), 36u);
    EXPECT_EQ(uuid.find_first_not_of("0123456789ABCDEF-"), std::string::npos) << uuid;
}

TEST_F(ImageConversion, LongNamesStillFitTheTemporaryFile) {
    std::string name;
    for (int i = 0; i < 80; ++i)
        name += "图";
    name += ".png"; // 244 bytes: the temporary name must be shortened to stay under 255
    makePNG(name);
    const auto result = optimize(image(name));
    EXPECT_EQ(result.reason, "smaller");
    EXPECT_EQ(entries(images()), std::vector<std::string>{name.substr(0, 240) + ".webp"});
}

TEST_F(ImageConversion, QuarantineAndOriginTravelWithTheImage) {
    const std::string marked = makePNG("marked.png");
    const std::string quarantineValue = "0083;65f0a1b2;Chrome;";
    ASSERT_EQ(
        setxattr(marked.c_str(), quarantine, quarantineValue.data(), quarantineValue.size(), 0), 0);
    ASSERT_EQ(setxattr(marked.c_str(), "user.xdg.origin.url", "https://a.example/x.png", 23, 0), 0);
    ASSERT_EQ(setxattr(marked.c_str(), "user.unrelated", "x", 1, 0), 0);
    const std::string plain = makePNG("plain.png");

    const auto markedResult = optimize(marked);
    const auto plainResult = optimize(plain);

    EXPECT_EQ(attribute(markedResult.path, quarantine), quarantineValue);
    EXPECT_EQ(attribute(markedResult.path, "user.xdg.origin.url"), "https://a.example/x.png");
    EXPECT_EQ(attribute(markedResult.path, "user.com.apple.provenance"), std::nullopt);
    EXPECT_EQ(attribute(markedResult.path, "user.unrelated"), std::nullopt);
    EXPECT_EQ(attribute(plainResult.path, quarantine), std::nullopt);
}

TEST_F(ImageConversion, CancellationStopsASlowEncoder) {
    // The stand-in records its process id and then takes far longer than any test may wait.
    installEncoder("echo $$ > \"$0.pid\"\n: > \"${14}\"\nexec sleep 600");
    const std::string png = makePNG("image.png");
    const std::string before = readFile(png);
    int checks = 0;
    const auto isCancelled = [&] {
        ++checks;
        return fs::exists(tools() + "/cwebp.pid") && checks >= 3;
    };

    EXPECT_EQ(failureOf([&] { optimize(png, isCancelled); }), ImageOptimizerError::Case::cancelled);

    EXPECT_GE(checks, 3);
    const pid_t encoder = std::stoi(readFile(tools() + "/cwebp.pid"));
    EXPECT_EQ(kill(encoder, 0), -1) << "the encoder is still running";
    EXPECT_EQ(entries(images()), std::vector<std::string>{"image.png"});
    EXPECT_EQ(readFile(png), before);
    EXPECT_STREQ(ImageOptimizerError::cancelled().what(), "已取消无损 WebP 转换");
    EXPECT_FALSE(ImageOptimizerError::cancelled().isRetryable());
}

TEST_F(ImageConversion, CancellationBeforeStartingTouchesNothing) {
    installEncoder("touch \"$0.ran\"; exec /usr/bin/cwebp \"$@\"");
    const std::string png = makePNG("image.png");
    EXPECT_EQ(failureOf([&] { optimize(png, [] { return true; }); }),
              ImageOptimizerError::Case::cancelled);
    // Even a path that does not exist: the question comes first.
    EXPECT_EQ(failureOf([&] { optimize(image("missing.png"), [] { return true; }); }),
              ImageOptimizerError::Case::cancelled);
    EXPECT_FALSE(fs::exists(tools() + "/cwebp.ran"));
}

TEST_F(ImageConversion, EncoderMissingFailingOrUnusable) {
    const std::string png = makePNG("image.png");
    const auto bytes = static_cast<std::int64_t>(fs::file_size(png));
    const auto expect = [&](const std::string& reason) {
        EXPECT_EQ(optimize(png), (ImageOptimizationResult{png, false, bytes, bytes, reason}));
        EXPECT_EQ(entries(images()), std::vector<std::string>{"image.png"}) << reason;
    };

    fs::remove(tools() + "/cwebp");
    expect("encoder-missing");
    writeFile(tools() + "/cwebp", "#!/nonexistent/interpreter\n", 0755);
    expect("conversion-unavailable");
    installEncoder(": > \"${14}\"; exit 3");
    expect("unsupported-image");
    installEncoder("kill -9 $$");
    expect("unsupported-image");
}

TEST_F(ImageConversion, OutputThatIsNotWebPIsRefused) {
    const std::string png = makePNG("image.png");
    const std::string before = readFile(png);
    for (const std::string& script :
         {std::string("printf 'RIFF\\0\\0\\0\\0WEBX1' > \"${14}\""),
          std::string("printf 'RIFF\\0\\0\\0\\0WEBP' > \"${14}\""), // 12 bytes: too short
          std::string("ln -s \"${12}\" \"${14}\""), std::string("mkdir \"${14}\""),
          std::string(":")}) {
        installEncoder(script);
        EXPECT_EQ(failureOf([&] { optimize(png); }), ImageOptimizerError::Case::invalidPath)
            << script;
        EXPECT_EQ(entries(images()), std::vector<std::string>{"image.png"}) << script;
        EXPECT_EQ(readFile(png), before);
    }
}

TEST(ImageOptimizerErrors, RetryableOnlyForPassingConditions) {
    for (int error : {EPERM, ENOENT, EINTR, EACCES, EBUSY, ETXTBSY, EAGAIN, ETIMEDOUT, ESTALE}) {
        EXPECT_TRUE(ImageOptimizerError::targetUnavailable(error).isRetryable()) << error;
        EXPECT_TRUE(ImageOptimizerError::replacementFailed(error).isRetryable()) << error;
    }
    for (int error : {ELOOP, EEXIST, ENOSPC, EROFS, EXDEV, ENAMETOOLONG}) {
        EXPECT_FALSE(ImageOptimizerError::targetUnavailable(error).isRetryable()) << error;
        EXPECT_FALSE(ImageOptimizerError::replacementFailed(error).isRetryable()) << error;
    }
    EXPECT_FALSE(ImageOptimizerError::invalidPath().isRetryable());
    EXPECT_EQ(std::string(ImageOptimizerError::replacementFailed(EEXIST).what()),
              "无法安全保存 WebP：" + std::string(strerror(EEXIST)));
    EXPECT_STREQ(ImageOptimizerError::targetChanged().what(), "图片在转换期间发生变化，已停止替换");
}

} // namespace
} // namespace brindle
