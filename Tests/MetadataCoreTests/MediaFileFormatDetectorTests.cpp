#include "MetadataCore/MediaFileFormatDetector.h"

#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace brindle {
namespace {

using namespace testing;
using Detector = MediaFileFormatDetector;
using Expected = std::optional<std::string>;

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
TEST(MediaFileFormatDetector, ExtensionsAreCorrectedFromContent) {
    TemporaryDirectory directory;
    const std::string png = directory.file("png"), jpeg = directory.file("jpeg"),
                      webp = directory.file("webp"), mp4 = directory.file("mp4"),
                      svg = directory.file("svg");
    makeImage(png, "testsrc=size=16x16", {"-f", "image2", "-c:v", "png"});
    makeImage(jpeg, "testsrc=size=16x16", {"-f", "image2", "-c:v", "mjpeg"});
    runTool("cwebp", {"-quiet", "-lossless", png, "-o", webp});
    makeImage(mp4, "testsrc=size=32x32", {"-c:v", "libx264", "-f", "mp4"});
    writeFile(svg, "\xEF\xBB\xBF  \n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<!-- drawn by hand -->\r\n"
                   "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" "
                   "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">\n"
                   "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"></svg>\n");
    const auto correcting = Detector::correctingFilenameExtension;
    // One real file of each family; the other formats' heads are crafted below.
    const std::string cases[][3] = {
        {"image.jpg", png, "image.png"},   {"photo.JPEG", jpeg, "photo.JPEG"},
        {"photo.jfif", jpeg, "photo.jpg"}, {"pic.webp", webp, "pic.webp"},
        {"pic", webp, "pic.webp"},         {"pic.", webp, "pic.webp"},
        {"...", webp, "resource.webp"},    {".hidden", webp, ".hidden.webp"},
        {"a.tar.gz", webp, "a.tar.webp"},  {"clip.m4v", mp4, "clip.m4v"},
        {"clip.mov", mp4, "clip.mp4"},     {"图片.gif", png, "图片.png"},
        {"icon.xml", svg, "icon.svg"},     {"icon.SVG", svg, "icon.SVG"}};
    for (const auto& [filename, path, expected] : cases)
        EXPECT_EQ(correcting(filename, path), expected) << filename;

    // Long names are cut to 255 bytes on character boundaries ("e" and its combining accent are
    // one); a name of exactly 255 bytes after correction is kept whole, and a single character
    // too long for it gives way to the default name.
    const std::string longNames[][2] = {
        {"a" + repeated("中", 99) + ".jpg", "a" + repeated("中", 83) + ".png"},
        {repeated("e\xCC\x81", 100), repeated("e\xCC\x81", 83) + ".png"},
        {std::string(251, 'x') + ".gif", std::string(251, 'x') + ".png"},
        {"e" + repeated("\xCC\x81", 150) + ".jpg", "resource.png"}};
    for (const auto& [name, expected] : longNames)
        EXPECT_EQ(correcting(name, png), expected);

    // Unreadable files leave the name alone; a link is never followed, even to a PNG.
    writeFile(directory.file("empty"), "");
    writeFile(directory.file("text"), "just some words\n");
    writeFile(directory.file("unreadable"), readFile(png), 0000);
    std::filesystem::create_symlink(png, directory.file("link"));
    for (const std::string name : {"empty", "missing", "", "text", "link", "unreadable"})
        EXPECT_EQ(correcting("x.jpg", directory.file(name)),
                  name == "unreadable" && geteuid() == 0 ? "x.png" : "x.jpg")
            << name;
}

TEST(MediaFileFormatDetector, CraftedHeads) {
    std::string transport(400, '\0');
    transport[0] = transport[188] = transport[376] = 'G';
    std::string timestamped(400, '\0');
    timestamped[4] = timestamped[196] = timestamped[388] = 'G';
    const std::string asf("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
    const std::string ebml = "\x1A\x45\xDF\xA3....";
    const auto riff = [](const char* type) { return std::string("RIFF\0\0\0\0", 8) + type; };
    const std::string heic = fileTypeBox("mif1", {"heic"}, 100000);
    // Heads grouped by what the detector must make of them: where it looks further than a fixed
    // signature at the start. Earlier signatures win over what follows them.
    const std::vector<std::pair<Expected, std::vector<std::string>>> groups = {
        // Spaces, Unicode spaces and breaks, comments and invalid bytes after the root do not
        // matter; "g" or "-" with a combining accent is another letter, a comment or declaration
        // must be closed, and only one byte order mark is dropped.
        {"svg",
         {"<svg>", "<SVG\tviewBox='0 0 1 1'>", "<svg:svg xmlns:svg='x'>", "  <svg  ",
          "\xE2\x80\x83<svg\xE2\x80\xA8/>", "<!---->\n<svg>", "<svg>\xFF\xFE"}},
        {std::nullopt,
         {"<svgx>", "<svg\xCC\x81>", "<!--\xCC\x81--><svg>", "<?xml\xCC\x81?><svg>",
          "<!-- never closed <svg>", "<?xml version='1.0'><svg>", "<html><svg></svg></html>",
          "\xEF\xBB\xBF\xEF\xBB\xBF<svg>"}},
        {"jpg", {"\xFF\xD8\xFF\xE0", "\xFF\xD8\xFF" + fileTypeBox("qt  ", {})}},
        {"png", {"\x89PNG\r\n\x1A\n<svg>"}},
        {"gif", {"GIF87a", "GIF89a.."}},
        {"jxl", {"\xFF\x0A", std::string("\0\0\0\x0CJXL \r\n\x87\n", 12)}},
        {"webp", {riff("WEBP")}},
        {"webm", {ebml + "webm"}},
        {"mkv", {ebml + "matroska"}},
        {"ts", {transport}},
        {"m2ts", {timestamped}},
        {"wmv", {asf}},
        {"ogv", {"OggS....theora"}},
        // "RIFF\0..." as a C string is cut at the first NUL.
        {std::nullopt,
         {"GIF90a", "RIFF\0\0\0\0WEBP", riff("WAVE"), ebml, ebml + "OggS", transport.substr(0, 376),
          asf.substr(0, 15), "OggS....vorbis", "ID3\x04", "%PDF-1.7", std::string(400, '\0')}},
        // ISO base media: brand groups in order, within the box. A non-ASCII brand is skipped;
        // brands are case-sensitive. A brand past the box's own size is not part of it, and sizes
        // below 16 are refused. A box larger than the head is read up to the head's end, where a
        // partial brand is ignored.
        {"heic", {fileTypeBox("mif1", {"heic"}), fileTypeBox("\xC3\xA9\xC3\xA9", {"heic"}), heic}},
        {"heif",
         {fileTypeBox("mif1", {"msf1"}), fileTypeBox("mif1", {"heif"}) + "heic",
          heic.substr(0, heic.size() - 1)}},
        {"avif", {fileTypeBox("mif1", {"avif", "heic"}), fileTypeBox("avis", {})}},
        {"mov", {fileTypeBox("qt  ", {}), fileTypeBox("isom", {"qt  "})}},
        {"mp4",
         {fileTypeBox("isom", {"iso2", "avc1", "mp41"}), fileTypeBox("MSNV", {}),
          fileTypeBox("dash", {}), fileTypeBox("M4A ", {"mp42"})}},
        {std::nullopt,
         {fileTypeBox("M4A ", {"isoM"}), fileTypeBox("crx ", {}), fileTypeBox("isom", {}, 0),
          fileTypeBox("isom", {}, 1), fileTypeBox("isom", {}, 15),
          fileTypeBox("isom", {}).substr(0, 15)}},
    };
    for (const auto& [expected, heads] : groups)
        for (const auto& head : heads)
            EXPECT_EQ(Detector::detectedFilenameExtension(Detector::Head(
                          reinterpret_cast<const std::uint8_t*>(head.data()), head.size())),
                      expected)
                << ::testing::PrintToString(head);
}

} // namespace
} // namespace brindle
