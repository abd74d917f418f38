#include "MetadataCore/NativeMessageFrame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brindle {
namespace {

using namespace nativeMessageFrame;

std::string header(std::uint32_t length) {
    return {char(length), char(length >> 8), char(length >> 16), char(length >> 24)};
}

// Pieces fed one after the other; after each, every frame it completes is taken out.
struct DecodeRow {
    std::vector<std::string> pieces;
    std::vector<std::string> bodies;
    int missing; // the bytes still wanted after the last piece; -1 for a length refused
    std::size_t limit = 8;
};

TEST(NativeMessageFrame, EncodesAndDecodesStreamsCutAnywhere) {
    const std::vector<DecodeRow> rows = {
        {{header(2).substr(0, 2)}, {}, 2},                                // partial header
        {{header(5) + "ab"}, {}, 3},                                      // partial body
        {{"\x02", std::string(3, '\0'), "o", "k"}, {"ok"}, 4},            // header and body apart
        {{header(8) + "12345678"}, {"12345678"}, 4},                      // exact limit
        {{header(9) + "123456789"}, {}, -1},                              // over limit
        {{header(0)}, {}, -1},                                            // empty body
        {{encode("a") + encode("bc") + header(3) + "d"}, {"a", "bc"}, 2}, // frames at once
        {{header(0xffffffff)}, {}, -1, maximumBodySize},                  // the largest length
    };
    for (const DecodeRow& row : rows) {
        FrameDecoder decoder(row.limit);
        std::vector<std::string> bodies;
        DecodeStatus status = DecodeStatus::needMore;
        for (const std::string& piece : row.pieces) {
            decoder.append(piece);
            std::string body;
            while ((status = decoder.next(body)) == DecodeStatus::frame)
                bodies.push_back(body);
        }
        // The loop ends on a length refused or on a frame still incomplete.
        EXPECT_EQ(bodies, row.bodies) << row.pieces[0];
        EXPECT_EQ(status == DecodeStatus::invalidLength ? -1 : int(decoder.missingBytes()),
                  row.missing)
            << row.pieces[0];
    }
    // The length goes first, little-endian.
    EXPECT_EQ(encode(std::string(0x0102, 'x')), header(0x0102) + std::string(0x0102, 'x'));
}

} // namespace
} // namespace brindle
