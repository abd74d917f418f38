// The pure rules of the comment block, the shown length of a source, and URL sanitising.

#include "FinderComment.h"
#include "MetadataCore/WebURL.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

const std::string start = "—— Kavo ——";
const std::string end = "—— /Kavo ——";

TEST(FinderComment, OldBlocksGoWhileUserTextAndStrayMarkersStay) {
    const std::string existing = "\u3000 note A\n" + start + "\nx\n" + end + " middle " + start +
                                 "\ny\n" + end + "\n—— Brindle ——\nz\n—— /Brindle ——\n\t";
    EXPECT_EQ(mergedFinderComment(existing, {}, "https://p/"),
              "note A\n middle\n\n" + start + "\n页面来源：https://p/\n" + end);
    // The same page and resource give one page line.
    EXPECT_EQ(mergedFinderComment({}, "https://p/", "https://p/"),
              start + "\n页面来源：https://p/\n" + end);
    // Taking out a block inside another leaves the outer one whole: it goes too.
    EXPECT_EQ(userTextOfFinderComment("a " + start + " b " + start + " x " + end + " c " + end),
              "a");

    // The block replaced is the one whose start marker is nearest before its end marker.
    const std::string stray = end + " " + start + " tail";
    const std::string merged = stray + "\n\n" + start + "\n页面来源：https://p/\n" + end;
    EXPECT_EQ(mergedFinderComment(stray, {}, "https://p/"), merged);
    EXPECT_EQ(mergedFinderComment(merged, {}, "https://p/"), merged);
}

TEST(FinderComment, ManagedPageURLPrefersTheCurrentBlockAndFallsBack) {
    const std::string legacy = "—— Brindle ——\r\n页面来源：https://legacy.example/\n—— /Brindle ——";
    EXPECT_EQ(managedPageURL(start + "\u2028资源地址：https://r/\u2029页面来源：https://p/\n" +
                             end + legacy),
              "https://p/");
    EXPECT_EQ(managedPageURL(start + "\n页面来源：https://user/\n" + start +
                             "\n页面来源：https://p/\n" + end),
              "https://p/");
    // An unusable page line in the current block leaves the legacy block to answer.
    EXPECT_EQ(managedPageURL(start + "\n页面来源：ftp://p/\n" + end + legacy),
              "https://legacy.example/");
    // Only the first page line counts, the label must start the line, and the block must end.
    for (const std::string& comment :
         {start + "\n页面来源：bad\n页面来源：https://p/\n" + end,
          start + "\n 页面来源：https://p/\n" + end, std::string("页面来源：https://p/"),
          start + "\n页面来源：https://p/"})
        EXPECT_EQ(managedPageURL(comment), std::nullopt) << comment;
}

TEST(FinderComment, SourceTextIsCutToUserPerceivedCharacters) {
    // Each flag and each "e" with a combining accent is one character of several scalars.
    std::string text;
    for (int i = 0; i < 480; ++i)
        text += i % 2 == 0 ? "🇨🇳" : "e\u0301";
    EXPECT_EQ(truncatedSourceText(text), text);
    EXPECT_EQ(truncatedSourceText(text + "b"), text.substr(0, text.size() - 3) + "…");
}

TEST(WebURL, OnlyHttpAndHttpsWithAHostSurvive) {
    EXPECT_EQ(sanitizedWebURL("https://example.com/a?b=c#d"), "https://example.com/a?b=c#d");
    EXPECT_EQ(sanitizedWebURL("https://user@example.com:8443/x"), "https://example.com:8443/x");
    EXPECT_EQ(sanitizedWebURL("https://例子.example/路径"), "https://例子.example/路径");

    for (const char* refused : {"", "ftp://example.com/", "file:///etc/passwd", "https://",
                                "https:///x", "http:/x", "http:example.com", "//example.com/x",
                                "example.com", "https://exa mple.com/", "https://example.com/a b",
                                "javascript:alert(1)", "https://:80/", "https://a.example/\xff"})
        EXPECT_EQ(sanitizedWebURL(refused), std::nullopt) << refused;
    EXPECT_EQ(sanitizedWebURL(std::optional<std::string>{}), std::nullopt);

    const std::string atLimit = "https://example.com/" + std::string(8192 - 20, 'a');
    EXPECT_EQ(sanitizedWebURL(atLimit), atLimit);
    EXPECT_EQ(sanitizedWebURL(atLimit + "a"), std::nullopt);
}

} // namespace
} // namespace brindle
