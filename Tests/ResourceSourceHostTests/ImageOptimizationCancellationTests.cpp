// Cancellation markers against a real marker folder: the marking, check and removal in-process.

#include "ResourceSourceHost/ImageOptimizationCancellation.h"
#include "ResourceSourceHost/ProtocolError.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace brindle::testing {
namespace {

using Names = std::vector<std::string>;

unsigned permissions(const std::string& path) {
    return statusOf(path).st_mode & 07777;
}

/// A marker folder inside a temporary folder, handed to the host and to this process.
class CancellationMarkers : public ::testing::Test {
protected:
    void SetUp() override { setenv("BRINDLE_IMAGE_CANCEL_DIR", markers.c_str(), 1); }
    void TearDown() override { unsetenv("BRINDLE_IMAGE_CANCEL_DIR"); }

    TemporaryDirectory root;
    std::string markers = root.file("state/Markers");
};

// The host's own "cancelImageOptimization" reply, and a marker seen by another process, are the
// optimize action's test; the folder of a marker that cannot be made is the channel's.
TEST_F(CancellationMarkers, MarkersArePrivateLeaveAFolderInTheirPlaceAndHaveADefaultFolder) {
    const auto isCancelled = imageOptimizationCancellationCheck("job-7");
    EXPECT_FALSE(isCancelled());
    markImageOptimizationCancelled("job-7");
    EXPECT_TRUE(isCancelled());
    EXPECT_EQ(readFile(markers + "/job-7"), "");
    EXPECT_EQ(permissions(markers + "/job-7"), 0600u);
    EXPECT_EQ(permissions(markers), 0700u);
    EXPECT_EQ(permissions(root.file("state")), 0700u);

    // A folder in the marker's place stays (a link is replaced as every file written whole is).
    std::filesystem::create_directories(markers + "/taken");
    writeFile(markers + "/taken" + "/inside", "x");
    EXPECT_EQ(caseOf<ProtocolError>([] { markImageOptimizationCancelled("taken"); }),
              ProtocolError::Case::outputWriteFailed);
    // No temporary file is left behind.
    EXPECT_EQ(entries(markers), (Names{"job-7", "taken"}));

    // Without a folder given, the application's data folder holds them.
    setenv("BRINDLE_IMAGE_CANCEL_DIR", "", 1);
    setenv("XDG_DATA_HOME", root.file("data").c_str(), 1);
    markImageOptimizationCancelled("r1");
    unsetenv("XDG_DATA_HOME");
    EXPECT_TRUE(exists(root.file("data/Brindle/ImageOptimizationCancellations/r1")));
    EXPECT_EQ(permissions(root.file("data/Brindle")), 0700u);
}

TEST_F(CancellationMarkers, IdsOfUpTo128BytesOfLettersMarksAndDigitsAreMarkedOthersTouchNothing) {
    // 126 bytes of "图"; "e" + combining acute, "é" and separators; Arabic-Indic digits; "½", a
    // number that is not a decimal digit; "..." is a name like any other, unlike the marker
    // folder itself or its parent.
    std::string han;
    for (int i = 0; i < 42; ++i)
        han += "图";
    const std::vector<std::string> markable({"img-1", std::string(128, 'a'), han,
                                             "e\xCC\x81t\xC3\xA9-_.v2", "\xD9\xA3\xD9\xA4",
                                             "\xC2\xBD", "..."});
    const std::vector<std::string> unmarkable(
        {std::string(129, 'a'), han + "图", "a/b", "../escape", "with space", "tab\t",
         "emoji\xF0\x9F\x98\x80", "semi;colon", ".", "..", "bad\xFF", "\xE5\x9B", ""});
    std::filesystem::create_directories(markers);
    for (const bool valid : {true, false}) {
        for (const std::string& id : valid ? markable : unmarkable) {
            const auto isCancelled = imageOptimizationCancellationCheck(id);
            if (valid) {
                EXPECT_FALSE(isCancelled()) << id;
                markImageOptimizationCancelled(id);
                markImageOptimizationCancelled(id); // cancelling twice is fine
                EXPECT_EQ(entries(markers), Names{id});
            } else {
                EXPECT_EQ(caseOf<ProtocolError>([&] { markImageOptimizationCancelled(id); }),
                          ProtocolError::Case::missingField)
                    << id;
            }
            // An id that cannot be marked counts as cancelled.
            EXPECT_TRUE(isCancelled()) << id;
            removeImageOptimizationCancellationMarker(id);
            removeImageOptimizationCancellationMarker(id); // removing what is not there is fine
            EXPECT_EQ(isCancelled(), !valid) << id;
            EXPECT_EQ(entries(markers), Names{}) << id;
        }
    }
    EXPECT_EQ(entries(root.file("state")), Names{"Markers"});
}

} // namespace
} // namespace brindle::testing
