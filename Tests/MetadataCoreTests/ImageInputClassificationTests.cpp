#include "MetadataCore/ImageOptimizer.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string bigEndian32(std::size_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string chunk(std::string_view type, std::size_t length) {
    return bigEndian32(length) + std::string(type) + std::string(length, 'x') + "CRC!";
}

// Signature and a header chunk declaring `bitDepth`, then `rest`.
std::string png(std::uint8_t bitDepth, const std::string& rest) {
    std::string header = "\x89PNG\r\n\x1A\n" + bigEndian32(13) + "IHDR" + bigEndian32(1) +
                         bigEndian32(1) + std::string(1, static_cast<char>(bitDepth)) +
                         std::string("\6\0\0\0", 4) + "CRC!";
    return header + rest;
}

TEST(StaticPNGClassification, ChunkWalk) {
    EXPECT_TRUE(ImageOptimizer::isSupportedStaticPNG(bytes(png(8, chunk("IDAT", 0)))));
    EXPECT_TRUE(ImageOptimizer::isSupportedStaticPNG(bytes(png(1, chunk("IDAT", 0)))));
    EXPECT_TRUE(ImageOptimizer::isSupportedStaticPNG(
        bytes(png(8, chunk("tEXt", 40) + chunk("IDAT", 5) + chunk("acTL", 8)))));
    EXPECT_FALSE(
        ImageOptimizer::isSupportedStaticPNG(bytes(png(8, chunk("acTL", 8) + chunk("IDAT", 5)))));
    EXPECT_FALSE(ImageOptimizer::isSupportedStaticPNG(bytes(png(16, chunk("IDAT", 0)))));
    EXPECT_FALSE(ImageOptimizer::isSupportedStaticPNG(bytes(png(0, chunk("IDAT", 0)))));
    // The image data chunk must lie wholly within the bytes read.
    const std::string cut = png(8, chunk("IDAT", 10));
    EXPECT_FALSE(ImageOptimizer::isSupportedStaticPNG(bytes(cut.substr(0, cut.size() - 1))));
    // A length that would run past the end (or wrap around) is not followed.
    EXPECT_FALSE(ImageOptimizer::isSupportedStaticPNG(
        bytes(png(8, bigEndian32(0xFFFFFFF8) + "tEXt" + chunk("IDAT", 0)))));
    EXPECT_FALSE(ImageOptimizer::isSupportedStaticPNG(bytes(png(8, ""))));
    EXPECT_FALSE(ImageOptimizer::isSupportedStaticPNG(bytes("GIF89a" + std::string(40, '\0'))));
}

TEST(StaticPNGClassification, ImageDataMustStartWithinTheFirstMebibyte) {
    const std::size_t filler = ImageOptimizer::classificationLimit;
    const std::string late = png(8, chunk("zTXt", filler) + chunk("IDAT", 0));
    EXPECT_TRUE(ImageOptimizer::isSupportedStaticPNG(bytes(late)));
    EXPECT_FALSE(ImageOptimizer::isSupportedStaticPNG(
        bytes(std::string_view(late).substr(0, ImageOptimizer::classificationLimit))));
}

// Start of image, then `segments`.
Bytes jpeg(const std::string& segments) {
    return bytes("\xFF\xD8" + segments);
}

std::string segment(std::uint8_t marker, const std::string& body) {
    const std::size_t length = body.size() + 2;
    return std::string{'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8),
                       static_cast<char>(length)} +
           body;
}

std::string frame(std::uint8_t marker, std::uint8_t precision) {
    return segment(marker, std::string(1, static_cast<char>(precision)) +
                               std::string("\0\x10\0\x10\x01\x01\x11\0", 8));
}

TEST(JPEGClassification, FrameHeaderPrecision) {
    const std::string end = "\xFF\xD9\0\0\0\0";
    EXPECT_TRUE(ImageOptimizer::isEightBitJPEG(jpeg(frame(0xC0, 8) + end)));
    EXPECT_TRUE(ImageOptimizer::isEightBitJPEG(jpeg(frame(0xC2, 8) + end)));
    EXPECT_TRUE(ImageOptimizer::isEightBitJPEG(jpeg(frame(0xCF, 8) + end)));
    EXPECT_FALSE(ImageOptimizer::isEightBitJPEG(jpeg(frame(0xC1, 12) + end)));
    // Application data, tables and fill bytes come first; restart markers carry no length.
    EXPECT_TRUE(ImageOptimizer::isEightBitJPEG(
        jpeg(segment(0xE0, "JFIF" + std::string(10, '\0')) + segment(0xDB, std::string(65, '\1')) +
             "\xFF\xFF\xFF" + segment(0xC4, std::string(20, '\2')) + "\xFF\xD3" + frame(0xC0, 8))));
    // Huffman (C4), arithmetic conditioning (CC) and C8 are not frame headers.
    EXPECT_FALSE(ImageOptimizer::isEightBitJPEG(jpeg(segment(0xC4, "\x08xx") + end)));
    EXPECT_FALSE(ImageOptimizer::isEightBitJPEG(jpeg(segment(0xCC, "\x08xx") + end)));
}

TEST(JPEGClassification, StopsWithoutAFrameHeader) {
    EXPECT_FALSE(
        ImageOptimizer::isEightBitJPEG(jpeg(segment(0xDA, "\x08xxxxxx") + frame(0xC0, 8))));
    EXPECT_FALSE(ImageOptimizer::isEightBitJPEG(jpeg("\xFF\xD9" + frame(0xC0, 8))));
    // A length below 3, or a segment running past the bytes read.
    EXPECT_FALSE(
        ImageOptimizer::isEightBitJPEG(jpeg(std::string("\xFF\xE0\0\2", 4) + frame(0xC0, 8))));
    const std::string frameHeader = frame(0xC0, 8);
    EXPECT_FALSE(
        ImageOptimizer::isEightBitJPEG(jpeg(frameHeader.substr(0, frameHeader.size() - 1))));
    // Fewer than four bytes after a segment end the scan.
    EXPECT_FALSE(ImageOptimizer::isEightBitJPEG(jpeg(segment(0xE1, "1234") + "\xFF\xC0\0")));
    EXPECT_FALSE(ImageOptimizer::isEightBitJPEG(bytes("\xFF\xD8\xFF\xC0\0\x0B\x08")));
    EXPECT_FALSE(ImageOptimizer::isEightBitJPEG(bytes("\x89PNG\r\n\x1A\n")));
}

} // namespace
} // namespace brindle
