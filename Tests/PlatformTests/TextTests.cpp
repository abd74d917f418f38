#include "Platform/PathsAndText.h"

#include <gtest/gtest.h>

namespace brindle::platform {
namespace {

// "e" + combining acute, the French flag (two regional indicators), then "x".
constexpr std::string_view accentFlagX = "e\xCC\x81\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7x";

TEST(Text, WholeCharactersUnicodeSpacesAndStrayBytes) {
    EXPECT_EQ(characterCount(""), 0u);
    EXPECT_EQ(characterCount(accentFlagX), 3u);
    EXPECT_EQ(characterPrefix(accentFlagX, 0), "");
    EXPECT_EQ(characterPrefix(accentFlagX, 1), "e\xCC\x81");
    EXPECT_EQ(characterPrefix(accentFlagX, 2), accentFlagX.substr(0, 11));
    EXPECT_EQ(characterPrefix(accentFlagX, 3), accentFlagX);
    EXPECT_EQ(characterPrefix(accentFlagX, 9), accentFlagX);

    // Undecodable bytes stand for themselves.
    EXPECT_TRUE(isValidUTF8(accentFlagX));
    EXPECT_FALSE(isValidUTF8("a\xC3"));
    EXPECT_FALSE(isValidUTF8("\xED\xA0\x80")); // a UTF-16 surrogate
    EXPECT_TRUE(decodeScalar("\xFF", 0).isUndecodable());
    EXPECT_FALSE(decodeScalar("\xEF\xBF\xBD", 0).isUndecodable()); // U+FFFD proper
    EXPECT_EQ(characterCount("a\xFF\xFE"), 3u);
    EXPECT_EQ(lowercased("\xC3\x89T\xFF"), "\xC3\xA9t\xFF");

    EXPECT_EQ(trimmingWhitespaceAndNewlines("\xC2\xA0\t\r\n x y\xE2\x80\xA8\xC2\x85"), "x y");
    EXPECT_EQ(trimmingWhitespaceAndNewlines(" \n "), "");
    // 0xA0 and 0x85 alone are not UTF-8: they are data, not a no-break space or NEL.
    EXPECT_EQ(trimmingWhitespaceAndNewlines("\xA0x\x85"), "\xA0x\x85");
}

} // namespace
} // namespace brindle::platform
