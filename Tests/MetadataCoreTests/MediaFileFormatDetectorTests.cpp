#include "MetadataCore/MediaFileFormatDetector.h"

#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace brindle {
namespace {

using testing::TemporaryDirectory;
using testing::writeFile;
using Detector = MediaFileFormatDetector;

std::optional<std::string> detectedIn(const std::string& head) {
    return Detector::detectedFilenameExtension(
        Detector::Head(reinterpret_cast<const std::uint8_t*>(head.data()), head.size()));
}

std::string bigEndian32(std::uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string fileTypeBox(const std::string& major, const std::vector<std::string>& compatible) {
    std::string body = "ftyp" + major + std::string(4, '\0');
    for (const auto& brand : compatible)
        body += brand;
    return bigEndian32(static_cast<std::uint32_t>(body.size() + 4)) + body;
}

class MediaFiles : public ::testing::Test {
protected:
    std::string make(const std::string& name, const std::vector<std::string>& arguments) {
        const std::string path = directory.file(name);
        std::vector<std::string> full = {"-hide_banner", "-loglevel", "error", "-y"};
        full.insert(full.end(), arguments.begin(), arguments.end());
        full.push_back(path);
        testing::runTool("ffmpeg", full);
        return path;
    }
    std::string makeVideo(const std::string& name, const std::vector<std::string>& options) {
        std::vector<std::string> arguments = {"-f", "lavfi", "-i",
                                              "testsrc=size=32x32:duration=0.2"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return make(name, arguments);
    }
    std::string correcting(const std::string& filename, const std::string& path) {
        return Detector::correctingFilenameExtension(filename, path);
    }

    TemporaryDirectory directory;
};

TEST_F(MediaFiles, RealImagesAndVideosAreRecognised) {
    const std::string png = directory.file("a");
    testing::makeImage(png, "testsrc=size=32x32", {"-f", "image2", "-c:v", "png"});
    const std::string webp = directory.file("b");
    testing::runTool("cwebp", {"-quiet", "-lossless", png, "-o", webp});
    const std::string jpeg = directory.file("c");
    testing::makeImage(jpeg, "testsrc=size=32x32", {"-f", "image2", "-c:v", "mjpeg"});

    EXPECT_EQ(Detector::detectedFilenameExtension(png), "png");
    EXPECT_EQ(Detector::detectedFilenameExtension(webp), "webp");
    EXPECT_EQ(Detector::detectedFilenameExtension(jpeg), "jpg");
    EXPECT_EQ(Detector::detectedFilenameExtension(makeVideo("d", {"-c:v", "libx264", "-f", "mp4"})),
              "mp4");
    EXPECT_EQ(Detector::detectedFilenameExtension(makeVideo("e", {"-c:v", "mpeg4", "-f", "mov"})),
              "mov");
    EXPECT_EQ(Detector::detectedFilenameExtension(makeVideo("f", {"-c:v", "mpeg4", "-f", "ipod"})),
              "m4v");
    EXPECT_EQ(Detector::detectedFilenameExtension(makeVideo("g", {"-c:v", "libvpx", "-f", "webm"})),
              "webm");
    EXPECT_EQ(
        Detector::detectedFilenameExtension(makeVideo("h", {"-c:v", "mpeg4", "-f", "matroska"})),
        "mkv");
    EXPECT_EQ(
        Detector::detectedFilenameExtension(makeVideo("i", {"-c:v", "mpeg2video", "-f", "mpegts"})),
        "ts");
    EXPECT_EQ(
        Detector::detectedFilenameExtension(makeVideo("j", {"-c:v", "libtheora", "-f", "ogg"})),
        "ogv");
    EXPECT_EQ(Detector::detectedFilenameExtension(makeVideo("k", {"-c:v", "mpeg4", "-f", "avi"})),
              "avi");
    // Audio alone is not a format the detector names.
    EXPECT_EQ(Detector::detectedFilenameExtension(make(
                  "l", {"-f", "lavfi", "-i", "sine=duration=0.2", "-c:a", "flac", "-f", "ogg"})),
              std::nullopt);
}

TEST_F(MediaFiles, ExtensionsAreCorrectedFromContent) {
    const std::string png = directory.file("png");
    testing::makeImage(png, "testsrc=size=16x16", {"-f", "image2", "-c:v", "png"});
    const std::string jpeg = directory.file("jpeg");
    testing::makeImage(jpeg, "testsrc=size=16x16", {"-f", "image2", "-c:v", "mjpeg"});
    const std::string webp = directory.file("webp");
    testing::runTool("cwebp", {"-quiet", png, "-o", webp});
    const std::string mp4 = makeVideo("mp4", {"-c:v", "libx264", "-f", "mp4"});
    const std::string mov = makeVideo("mov", {"-c:v", "mpeg4", "-f", "mov"});

    EXPECT_EQ(correcting("image.jpg", png), "image.png");
    EXPECT_EQ(correcting("photo.JPEG", jpeg), "photo.JPEG");
    EXPECT_EQ(correcting("photo.JPG", jpeg), "photo.JPG");
    EXPECT_EQ(correcting("photo.jfif", jpeg), "photo.jpg");
    EXPECT_EQ(correcting("pic.webp", webp), "pic.webp");
    EXPECT_EQ(correcting("pic", webp), "pic.webp");
    EXPECT_EQ(correcting("pic.", webp), "pic.webp");
    EXPECT_EQ(correcting("pic...", webp), "pic.webp");
    EXPECT_EQ(correcting("...", webp), "resource.webp");
    EXPECT_EQ(correcting("..", webp), "resource.webp");
    EXPECT_EQ(correcting(".hidden", webp), ".hidden.webp");
    EXPECT_EQ(correcting("a.tar.gz", webp), "a.tar.webp");
    EXPECT_EQ(correcting("clip.m4v", mp4), "clip.m4v");
    EXPECT_EQ(correcting("clip.mp4", mov), "clip.mov");
    EXPECT_EQ(correcting("图片.gif", png), "图片.png");
}

TEST_F(MediaFiles, UnreadableFilesLeaveTheNameAlone) {
    const std::string empty = directory.file("empty");
    writeFile(empty, "");
    EXPECT_EQ(correcting("x.jpg", empty), "x.jpg");
    EXPECT_EQ(correcting("x.jpg", directory.file("missing")), "x.jpg");
    EXPECT_EQ(correcting("x.jpg", directory.path()), "x.jpg");
    const std::string text = directory.file("text");
    writeFile(text, "just some words\n");
    EXPECT_EQ(correcting("notes.jpg", text), "notes.jpg");

    // A link is never followed, even to a PNG.
    const std::string png = directory.file("png");
    testing::makeImage(png, "testsrc=size=16x16", {"-f", "image2", "-c:v", "png"});
    std::filesystem::create_symlink(png, directory.file("link"));
    EXPECT_EQ(correcting("x.jpg", directory.file("link")), "x.jpg");
    const std::string unreadable = directory.file("unreadable");
    writeFile(unreadable, testing::readFile(png), 0000);
    if (geteuid() != 0) {
        EXPECT_EQ(correcting("x.jpg", unreadable), "x.jpg");
    }
}

TEST_F(MediaFiles, SVGAfterByteOrderMarkAndPreamble) {
    const std::string svg = directory.file("svg");
    writeFile(svg, "\xEF\xBB\xBF  \n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<!-- drawn by hand -->\r\n"
                   "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" "
                   "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">\n"
                   "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"></svg>\n");
    EXPECT_EQ(correcting("icon.xml", svg), "icon.svg");
    EXPECT_EQ(correcting("icon.SVG", svg), "icon.SVG");
}

TEST(MediaFileFormatSVG, RootElementRules) {
    EXPECT_EQ(detectedIn("<svg>"), "svg");
    EXPECT_EQ(detectedIn("<SVG\tviewBox='0 0 1 1'>"), "svg");
    EXPECT_EQ(detectedIn("<svg:svg xmlns:svg='x'>"), "svg");
    EXPECT_EQ(detectedIn("  <svg  "), "svg"); // trimmed to "<svg": nothing follows
    EXPECT_EQ(detectedIn("\xE2\x80\x83<svg\xE2\x80\xA8/>"), "svg"); // Unicode spaces and breaks
    EXPECT_EQ(detectedIn("<!---->\n<svg>"), "svg");
    EXPECT_EQ(detectedIn("<svgx>"), std::nullopt);
    EXPECT_EQ(detectedIn("<svg\xCC\x81>"), std::nullopt); // "g" with an accent is another letter
    EXPECT_EQ(detectedIn("<svg>\xFF\xFE"), "svg");        // invalid bytes later do not matter
    EXPECT_EQ(detectedIn("<!-- never closed <svg>"), std::nullopt);
    EXPECT_EQ(detectedIn("<?xml version='1.0'><svg>"), std::nullopt); // no "?>"
    EXPECT_EQ(detectedIn("<html><svg></svg></html>"), std::nullopt);
    EXPECT_EQ(detectedIn("\xEF\xBB\xBF\xEF\xBB\xBF<svg>"), std::nullopt); // only one mark dropped
}

TEST(MediaFileFormatSignatures, CraftedHeads) {
    const std::string zeros(400, '\0');
    std::string transport(400, '\0');
    transport[0] = transport[188] = transport[376] = 'G';
    std::string timestamped(400, '\0');
    timestamped[4] = timestamped[196] = timestamped[388] = 'G';
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"\xFF\xD8\xFF\xE0", "jpg"},
        {"GIF87a", "gif"},
        {"GIF89a..", "gif"},
        {"GIF90a", std::nullopt},
        {std::string("II*\0", 4), "tiff"},
        {std::string("MM\0*", 4), "tiff"},
        {"BM", "bmp"},
        {std::string("\0\0\1\0", 4), "ico"},
        {"8BPS", "psd"},
        {"qoif", "qoi"},
        {"\xFF\x0A", "jxl"},
        {std::string("\0\0\0\x0CJXL \r\n\x87\n", 12), "jxl"},
        {std::string("\0\0\0\x0CjP  \r\n\x87\n", 12), "jp2"},
        {"RIFF\0\0\0\0WEBP", std::nullopt}, // shorter than 12 bytes once cut at the NUL
        {std::string("RIFF\0\0\0\0WEBP", 12), "webp"},
        {std::string("RIFF\0\0\0\0AVI ", 12), "avi"},
        {std::string("RIFF\0\0\0\0WAVE", 12), std::nullopt},
        {"FLV\x01", "flv"},
        {"\x1A\x45\xDF\xA3....webm", "webm"},
        {"\x1A\x45\xDF\xA3....matroska", "mkv"},
        {"\x1A\x45\xDF\xA3....", std::nullopt},
        {transport, "ts"},
        {timestamped, "m2ts"},
        {transport.substr(0, 376), std::nullopt},
        {std::string("\0\0\1\xBA", 4), "mpg"},
        {std::string("\0\0\1\xB3", 4), "mpg"},
        {std::string("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16),
         "wmv"},
        {std::string("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE", 15),
         std::nullopt},
        {".RMF", "rm"},
        {"OggS....theora", "ogv"},
        {"OggS....vorbis", std::nullopt},
        {"ID3\x04", std::nullopt},
        {"%PDF-1.7", std::nullopt},
        {zeros, std::nullopt},
    };
    for (const auto& [head, expected] : cases)
        EXPECT_EQ(detectedIn(head), expected) << head;
}

TEST(MediaFileFormatSignatures, EarlierSignaturesWin) {
    // A JPEG start wins over anything that follows; a PNG that mentions "<svg" is still a PNG.
    EXPECT_EQ(detectedIn("\xFF\xD8\xFF" + fileTypeBox("qt  ", {})), "jpg");
    EXPECT_EQ(detectedIn("\x89PNG\r\n\x1A\n<svg>"), "png");
    // An EBML file naming neither document type can still be recognised by later tests.
    EXPECT_EQ(detectedIn("\x1A\x45\xDF\xA3....OggS"), std::nullopt);
}

TEST(MediaFileFormatISOBaseMedia, BrandGroupsInOrder) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {fileTypeBox("mif1", {"heic"}), "heic"},
        {fileTypeBox("mif1", {"msf1"}), "heif"},
        {fileTypeBox("mif1", {"avif", "heic"}), "avif"},
        {fileTypeBox("avis", {}), "avif"},
        {fileTypeBox("qt  ", {}), "mov"},
        {fileTypeBox("isom", {"qt  "}), "mov"},
        {fileTypeBox("3GP4", {}), "3gp"},
        {fileTypeBox("3g2a", {}), "3g2"},
        {fileTypeBox("F4V ", {}), "f4v"},
        {fileTypeBox("mp42", {"M4VP"}), "m4v"},
        {fileTypeBox("isom", {"iso2", "avc1", "mp41"}), "mp4"},
        {fileTypeBox("MSNV", {}), "mp4"},
        {fileTypeBox("dash", {}), "mp4"},
        {fileTypeBox("M4A ", {"mp42"}), "mp4"},
        {fileTypeBox("M4A ", {"isoM"}), std::nullopt}, // brands are case-sensitive
        {fileTypeBox("crx ", {}), std::nullopt},
        {fileTypeBox("\xC3\xA9\xC3\xA9", {"heic"}), "heic"}, // a non-ASCII brand is skipped
    };
    for (const auto& [head, expected] : cases)
        EXPECT_EQ(detectedIn(head), expected) << head.substr(8);
}

TEST(MediaFileFormatISOBaseMedia, BoxSizeLimitsTheBrands) {
    // The compatible brand past the box's own size is not part of it.
    std::string head = fileTypeBox("mif1", {"heif"}) + "heic";
    EXPECT_EQ(detectedIn(head), "heif");
    // Sizes below 16, including 0 and 1, are refused.
    for (std::uint32_t size : {0u, 1u, 15u}) {
        head = fileTypeBox("isom", {});
        head.replace(0, 4, bigEndian32(size));
        EXPECT_EQ(detectedIn(head), std::nullopt) << size;
    }
    // A box larger than the head is read up to the head's end; a partial brand is ignored.
    head = fileTypeBox("mif1", {"heic"});
    head.replace(0, 4, bigEndian32(100000));
    EXPECT_EQ(detectedIn(head), "heic");
    EXPECT_EQ(detectedIn(head.substr(0, head.size() - 1)), "heif");
    EXPECT_EQ(detectedIn(fileTypeBox("isom", {}).substr(0, 15)), std::nullopt);
}

TEST_F(MediaFiles, LongNamesAreCutOnCharacterBoundaries) {
    const std::string png = directory.file("png");
    testing::makeImage(png, "testsrc=size=16x16", {"-f", "image2", "-c:v", "png"});

    // 1 + 99 * 3 = 298 bytes before ".jpg": the cut must not fall inside a three-byte character.
    std::string base = "a";
    for (int i = 0; i < 99; ++i)
        base += "中";
    std::string corrected = correcting(base + ".jpg", png);
    EXPECT_EQ(corrected.size(), 1u + 83 * 3 + 4);
    EXPECT_EQ(corrected, base.substr(0, 1 + 83 * 3) + ".png");

    // "e" with a combining accent is one character of three bytes: keep whole pairs only.
    base.clear();
    for (int i = 0; i < 100; ++i)
        base += "e\xCC\x81";
    corrected = correcting(base, png);
    EXPECT_EQ(corrected, base.substr(0, 83 * 3) + ".png");

    // A name of exactly 255 bytes after correction is kept whole.
    base = std::string(251, 'x');
    EXPECT_EQ(correcting(base + ".gif", png), base + ".png");
    EXPECT_EQ(correcting(base + "x.gif", png), base + ".png");
}

TEST_F(MediaFiles, ACharacterTooLongToFitFallsBackToTheDefaultName) {
    const std::string png = directory.file("png");
    testing::makeImage(png, "testsrc=size=16x16", {"-f", "image2", "-c:v", "png"});
    std::string base = "e";
    for (int i = 0; i < 150; ++i)
        base += "\xCC\x81"; // 301 bytes, one user-perceived character
    EXPECT_EQ(correcting(base + ".jpg", png), "resource.png");
}

} // namespace
} // namespace brindle
