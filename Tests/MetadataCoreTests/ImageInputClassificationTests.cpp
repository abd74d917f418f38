#include "ImageOptimizerSteps.h"

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
    return "\x89PNG\r\n\x1A\n" + bigEndian32(13) + "IHDR" + bigEndian32(1) + bigEndian32(1) +
           char(bitDepth) + std::string("\6\0\0\0", 4) + "CRC!" + rest;
}

std::string segment(std::uint8_t marker, const std::string& body) {
    return std::string{'\xFF', char(marker)} + bigEndian32(body.size() + 2).substr(2) + body;
}

std::string frame(std::uint8_t marker, std::uint8_t precision) {
    return segment(marker, char(precision) + std::string("\0\x10\0\x10\x01\x01\x11\0", 8));
}

// Each head, after `start`, is classified as `expected`; its position names a failing one.
void expectClassified(bool (*classify)(std::span<const std::uint8_t>), const std::string& start,
                      bool expected, const std::vector<std::string>& heads) {
    for (std::size_t i = 0; i < heads.size(); ++i)
        EXPECT_EQ(classify(bytes(start + heads[i])), expected) << "head " << i;
}

// A static PNG by its chunks; an 8-bit JPEG by the precision of its frame header.
TEST(ImageInputClassification, ChunkWalkAndFrameHeaderPrecision) {
    const std::string cut = png(8, chunk("IDAT", 10));
    const std::string late =
        png(8, chunk("zTXt", imageOptimization::classificationLimit) + chunk("IDAT", 0));
    // Image data counts once its length and type were read; a chunk passed over must fit, and a
    // length that would run past the end (or wrap around) is not followed. The image data must
    // start within the first mebibyte.
    expectClassified(imageOptimization::isSupportedStaticPNG, "", true,
                     {png(8, chunk("IDAT", 0)), png(1, chunk("IDAT", 0)),
                      png(8, chunk("tEXt", 40) + chunk("IDAT", 5) + chunk("acTL", 8)),
                      cut.substr(0, cut.size() - 1), late});
    expectClassified(imageOptimization::isSupportedStaticPNG, "", false,
                     {png(8, chunk("acTL", 8) + chunk("IDAT", 5)), png(16, chunk("IDAT", 0)),
                      png(0, chunk("IDAT", 0)),
                      png(8, bigEndian32(0xFFFFFFF8) + "tEXt" + chunk("IDAT", 0)), png(8, ""),
                      "GIF89a" + std::string(40, '\0'),
                      late.substr(0, imageOptimization::classificationLimit)});

    const std::string end = "\xFF\xD9\0\0\0\0";
    const std::string frameHeader = frame(0xC0, 8);
    // Application data, tables and fill bytes come first; restart markers carry no length.
    expectClassified(imageOptimization::isEightBitJPEG, "\xFF\xD8", true,
                     {frame(0xC0, 8) + end, frame(0xC2, 8) + end, frame(0xCF, 8) + end,
                      segment(0xE0, "JFIF" + std::string(10, '\0')) +
                          segment(0xDB, std::string(65, '\1')) + "\xFF\xFF\xFF" +
                          segment(0xC4, std::string(20, '\2')) + "\xFF\xD3" + frameHeader});
    // Huffman (C4), arithmetic conditioning (CC) and C8 are not frame headers. The scan stops at
    // the start of scan, at the end of image, at a length below 3, at a segment running past the
    // bytes read, and with fewer than four bytes after a segment.
    expectClassified(imageOptimization::isEightBitJPEG, "\xFF\xD8", false,
                     {frame(0xC1, 12) + end, segment(0xC4, "\x08xx") + end,
                      segment(0xCC, "\x08xx") + end, segment(0xDA, "\x08xxxxxx") + frameHeader,
                      "\xFF\xD9" + frameHeader, std::string("\xFF\xE0\0\2", 4) + frameHeader,
                      frameHeader.substr(0, frameHeader.size() - 1),
                      segment(0xE1, "1234") + "\xFF\xC0\0", "\xFF\xC0\0\x0B\x08"});
    EXPECT_FALSE(imageOptimization::isEightBitJPEG(bytes("\x89PNG\r\n\x1A\n")));
}

} // namespace
} // namespace brindle
