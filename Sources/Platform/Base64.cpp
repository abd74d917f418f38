#include "Platform/PathsAndText.h"

#include <array>
#include <cstdint>

namespace brindle::platform {

namespace {

// One table per position in a group of four, each holding the character's six bits already
// shifted into place, so a group decodes with four loads and three ORs. A character outside the
// alphabet carries a bit above the 24 data bits; the bits are ORed over the whole text and
// checked once at the end, which keeps the loop free of branches. Measured on 512 KiB chunks:
// about 2.4 GB/s of text against 0.5 GB/s for a decoder that looks up one character at a time
// (Boost.Beast's, in Benchmarks/Base64Benchmark.cpp).
constexpr std::uint32_t invalidBit = 1U << 24;

using Table = std::array<std::uint32_t, 256>;

constexpr std::array<Table, 4> makeTables() {
    constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::array<Table, 4> tables{};
    for (Table& table : tables)
        table.fill(invalidBit);
    for (std::uint32_t value = 0; value < alphabet.size(); ++value) {
        const auto character = static_cast<unsigned char>(alphabet[value]);
        tables[0][character] = value << 18;
        tables[1][character] = value << 12;
        tables[2][character] = value << 6;
        tables[3][character] = value;
    }
    return tables;
}

constexpr std::array<Table, 4> tables = makeTables();

std::uint32_t group(const unsigned char* characters) {
    return tables[0][characters[0]] | tables[1][characters[1]] | tables[2][characters[2]] |
           tables[3][characters[3]];
}

} // namespace

std::size_t base64DecodedLength(std::string_view text) {
    std::size_t length = text.size() / 4 * 3;
    if (!text.empty() && text.back() == '=')
        --length;
    if (text.size() >= 2 && text[text.size() - 2] == '=')
        --length;
    return length;
}

bool decodeBase64(std::string_view text, std::string& bytes) {
    if (text.empty()) {
        bytes.clear();
        return true;
    }
    if (text.size() % 4 != 0)
        return false;
    const std::size_t padding = text.back() != '=' ? 0 : text[text.size() - 2] == '=' ? 2 : 1;
    // Without clearing first: a buffer reused for the next chunk is then not zero-filled again.
    bytes.resize(base64DecodedLength(text));

    const auto* input = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const lastGroup = input + text.size() - 4;
    auto* output = reinterpret_cast<unsigned char*>(bytes.data());
    std::uint32_t seen = 0;
    for (; input < lastGroup; input += 4, output += 3) {
        const std::uint32_t word = group(input);
        seen |= word;
        output[0] = static_cast<unsigned char>(word >> 16);
        output[1] = static_cast<unsigned char>(word >> 8);
        output[2] = static_cast<unsigned char>(word);
    }

    // The last group: padding stands for "A" (zero bits) and says how many bytes it holds.
    std::array<unsigned char, 4> last{input[0], input[1], input[2], input[3]};
    for (std::size_t index = 4 - padding; index < 4; ++index)
        last[index] = 'A';
    const std::uint32_t word = group(last.data());
    seen |= word;
    if ((seen & invalidBit) != 0)
        return false;
    output[0] = static_cast<unsigned char>(word >> 16);
    if (padding < 2)
        output[1] = static_cast<unsigned char>(word >> 8);
    if (padding < 1)
        output[2] = static_cast<unsigned char>(word);
    return true;
}

} // namespace brindle::platform
