#include "MetadataCore/MediaFileFormatDetector.h"

#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace brindle {
namespace {

using testing::writeFile;
using Detector = MediaFileFormatDetector;
using Expected = std::optional<std::string>;

Expected detectedIn(const std::string& head) {
    return Detector::detectedFilenameExtension(
        Detector::Head(reinterpret_cast<const std::uint8_t*>(head.data()), head.size()));
}

std::string bigEndian32(std::uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string fileTypeBox(const std::string& major, const std::vector<std::string>& compatible,
                        std::optional<std::uint32_t> size = {}) {
    std::string body = "ftyp" + major + std::string(4, '\0');
    for (const auto& brand : compatible)
        body += brand;
    return bigEndian32(size.value_or(static_cast<std::uint32_t>(body.size() + 4))) + body;
}

// Files of each kind, made by the real tools.
class MediaFiles : public ::testing::Test {
protected:
    void SetUp() override {
        testing::makeImage(png, "testsrc=size=16x16", {"-f", "image2", "-c:v", "png"});
        testing::makeImage(jpeg, "testsrc=size=16x16", {"-f", "image2", "-c:v", "mjpeg"});
        testing::runTool("cwebp", {"-quiet", "-lossless", png, "-o", webp});
    }

    std::string make(const std::string& name, const std::string& input,
                     const std::vector<std::string>& options) {
        std::vector<std::string> arguments = {"-hide_banner", "-loglevel", "error", "-y",
                                              "-f",           "lavfi",     "-i",    input};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(directory.file(name));
        testing::runTool("ffmpeg", arguments);
        return directory.file(name);
    }
    std::string makeVideo(const std::string& name, const std::string& codec,
                          const std::string& format) {
        return make(name, "testsrc=size=32x32:duration=0.2", {"-c:v", codec, "-f", format});
    }

    std::string correcting(const std::string& filename, const std::string& path) {
        return Detector::correctingFilenameExtension(filename, path);
    }

    testing::TemporaryDirectory directory;
    std::string png = directory.file("png");
    std::string jpeg = directory.file("jpeg");
    std::string webp = directory.file("webp");
};

TEST_F(MediaFiles, RealImagesAndVideosAreRecognised) {
    const std::pair<std::string, Expected> cases[] = {
        {png, "png"},
        {webp, "webp"},
        {jpeg, "jpg"},
        {makeVideo("mp4", "libx264", "mp4"), "mp4"},
        {makeVideo("mov", "mpeg4", "mov"), "mov"},
        {makeVideo("webm", "libvpx", "webm"), "webm"},
        {makeVideo("ts", "mpeg2video", "mpegts"), "ts"},
        // Audio alone is not a format the detector names.
        {make("ogg", "sine=duration=0.2", {"-c:a", "flac", "-f", "ogg"}), std::nullopt},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(Detector::detectedFilenameExtension(path), expected) << path;
}

TEST_F(MediaFiles, ExtensionsAreCorrectedFromContent) {
    const std::string mp4 = makeVideo("mp4", "libx264", "mp4");
    const std::string mov = makeVideo("mov", "mpeg4", "mov");
    const std::string svg = directory.file("svg");
    writeFile(svg, "\xEF\xBB\xBF  \n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<!-- drawn by hand -->\r\n"
                   "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" "
                   "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">\n"
                   "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"></svg>\n");
    const std::string cases[][3] = {
        {"image.jpg", png, "image.png"},   {"photo.JPEG", jpeg, "photo.JPEG"},
        {"photo.JPG", jpeg, "photo.JPG"},  {"photo.jfif", jpeg, "photo.jpg"},
        {"pic.webp", webp, "pic.webp"},    {"pic", webp, "pic.webp"},
        {"pic.", webp, "pic.webp"},        {"pic...", webp, "pic.webp"},
        {"...", webp, "resource.webp"},    {"..", webp, "resource.webp"},
        {".hidden", webp, ".hidden.webp"}, {"a.tar.gz", webp, "a.tar.webp"},
        {"clip.m4v", mp4, "clip.m4v"},     {"clip.mp4", mov, "clip.mov"},
        {"图片.gif", png, "图片.png"},     {"icon.xml", svg, "icon.svg"},
        {"icon.SVG", svg, "icon.SVG"},
    };
    for (const auto& [filename, path, expected] : cases)
        EXPECT_EQ(correcting(filename, path), expected) << filename;
}

TEST_F(MediaFiles, UnreadableFilesLeaveTheNameAlone) {
    writeFile(directory.file("empty"), "");
    writeFile(directory.file("text"), "just some words\n");
    // A link is never followed, even to a PNG.
    std::filesystem::create_symlink(png, directory.file("link"));
    std::vector<std::string> paths = {directory.file("empty"), directory.file("missing"),
                                      directory.path(), directory.file("text"),
                                      directory.file("link")};
    if (geteuid() != 0) {
        writeFile(directory.file("unreadable"), testing::readFile(png), 0000);
        paths.push_back(directory.file("unreadable"));
    }
    for (const auto& path : paths)
        EXPECT_EQ(correcting("x.jpg", path), "x.jpg") << path;
}

TEST_F(MediaFiles, LongNamesAreCutOnCharacterBoundaries) {
    // 1 + 99 * 3 = 298 bytes before ".jpg": the cut must not fall inside a three-byte character.
    std::string base = "a";
    for (int i = 0; i < 99; ++i)
        base += "中";
    EXPECT_EQ(correcting(base + ".jpg", png), base.substr(0, 1 + 83 * 3) + ".png");

    // "e" with a combining accent is one character of three bytes: keep whole pairs only.
    base.clear();
    for (int i = 0; i < 100; ++i)
        base += "e\xCC\x81";
    EXPECT_EQ(correcting(base, png), base.substr(0, 83 * 3) + ".png");

    // A name of exactly 255 bytes after correction is kept whole.
    base = std::string(251, 'x');
    EXPECT_EQ(correcting(base + ".gif", png), base + ".png");
    EXPECT_EQ(correcting(base + "x.gif", png), base + ".png");

    // One user-perceived character of 301 bytes cannot fit: the default name stands in.
    base = "e";
    for (int i = 0; i < 150; ++i)
        base += "\xCC\x81";
    EXPECT_EQ(correcting(base + ".jpg", png), "resource.png");
}

TEST(MediaFileFormatSVG, RootElementRules) {
    const std::pair<std::string, Expected> cases[] = {
        {"<svg>", "svg"},
        {"<SVG\tviewBox='0 0 1 1'>", "svg"},
        {"<svg:svg xmlns:svg='x'>", "svg"},
        {"  <svg  ", "svg"},                       // trimmed to "<svg": nothing follows
        {"\xE2\x80\x83<svg\xE2\x80\xA8/>", "svg"}, // Unicode spaces and breaks
        {"<!---->\n<svg>", "svg"},
        {"<svg>\xFF\xFE", "svg"}, // invalid bytes later do not matter
        {"<svgx>", std::nullopt},
        {"<svg\xCC\x81>", std::nullopt}, // "g" with an accent is another letter
        {"<!-- never closed <svg>", std::nullopt},
        {"<?xml version='1.0'><svg>", std::nullopt}, // no "?>"
        {"<html><svg></svg></html>", std::nullopt},
        {"\xEF\xBB\xBF\xEF\xBB\xBF<svg>", std::nullopt}, // only one mark dropped
    };
    for (const auto& [head, expected] : cases)
        EXPECT_EQ(detectedIn(head), expected) << head;
}

TEST(MediaFileFormatSignatures, CraftedHeads) {
    std::string transport(400, '\0');
    transport[0] = transport[188] = transport[376] = 'G';
    std::string timestamped(400, '\0');
    timestamped[4] = timestamped[196] = timestamped[388] = 'G';
    const std::string asf("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
    const std::pair<std::string, Expected> cases[] = {
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
        {"\x1A\x45\xDF\xA3....OggS", std::nullopt},
        {transport, "ts"},
        {timestamped, "m2ts"},
        {transport.substr(0, 376), std::nullopt},
        {std::string("\0\0\1\xBA", 4), "mpg"},
        {std::string("\0\0\1\xB3", 4), "mpg"},
        {asf, "wmv"},
        {asf.substr(0, 15), std::nullopt},
        {".RMF", "rm"},
        {"OggS....theora", "ogv"},
        {"OggS....vorbis", std::nullopt},
        {"ID3\x04", std::nullopt},
        {"%PDF-1.7", std::nullopt},
        {std::string(400, '\0'), std::nullopt},
        // Earlier signatures win over what follows them.
        {"\xFF\xD8\xFF" + fileTypeBox("qt  ", {}), "jpg"},
        {"\x89PNG\r\n\x1A\n<svg>", "png"},
    };
    for (const auto& [head, expected] : cases)
        EXPECT_EQ(detectedIn(head), expected) << head;
}

TEST(MediaFileFormatISOBaseMedia, BrandGroupsInOrderWithinTheBox) {
    const std::string heic = fileTypeBox("mif1", {"heic"}, 100000);
    const std::pair<std::string, Expected> cases[] = {
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
        // A brand past the box's own size is not part of it; sizes below 16 are refused.
        {fileTypeBox("mif1", {"heif"}) + "heic", "heif"},
        {fileTypeBox("isom", {}, 0), std::nullopt},
        {fileTypeBox("isom", {}, 1), std::nullopt},
        {fileTypeBox("isom", {}, 15), std::nullopt},
        {fileTypeBox("isom", {}).substr(0, 15), std::nullopt},
        // A box larger than the head is read up to the head's end; a partial brand is ignored.
        {heic, "heic"},
        {heic.substr(0, heic.size() - 1), "heif"},
    };
    for (const auto& [head, expected] : cases)
        EXPECT_EQ(detectedIn(head), expected) << head.substr(8);
}

} // namespace
} // namespace brindle
