// The exchange records' JSON form, as both programs write and read it.

#include "SmartSaveUIBridge/SmartSaveFileError.h"
#include "SmartSaveUIBridge/SmartSavePanelProtocol.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace brindle::testing {
namespace {

using Codec = SmartSavePanelMessageCodec;
using Response = SmartSavePanelResponse;
using enum SmartSavePanelOutcome;

TEST(SmartSavePanelMessageCodec, WritesCompactSortedJSONWithoutAbsentKeysAndWithEscapedSlashes) {
    const SmartSavePanelRequest full(SmartSavePanelKind::chooseLibraryRoot, "/a/b", "x/y.png", "T",
                                     "多行\n消息", "com.apple.keylayout.ABC");
    EXPECT_EQ(Codec::encodeRequest(full),
              R"({"directoryPath":"\/a\/b","kind":"chooseLibraryRoot",)"
              R"("originalInputSourceIdentifier":"com.apple.keylayout.ABC",)"
              R"("panelMessage":"多行\n消息","panelTitle":"T","schemaVersion":1,)"
              R"("suggestedFilename":"x\/y.png"})");

    TemporaryDirectory directory;
    writeFile(directory.file("full.request.json"), Codec::encodeRequest(full));
    EXPECT_EQ(Codec::decodeRequest(directory.file("full.request.json")), full);
    // The application reads a newer request and refuses it by its version.
    writeFile(directory.file("v2.request.json"),
              R"({"kind":"chooseDestination","schemaVersion":2})");
    EXPECT_EQ(Codec::decodeRequest(directory.file("v2.request.json")).schemaVersion(), 2);
    EXPECT_THROW(Codec::decodeRequest(directory.file("none.request.json")), SmartSaveFileError);

    // Written in one step over whatever held the name: a link is replaced, not written through.
    const Response response(failed, "/p", "QQ==", "e", true);
    const std::string path = directory.file("r.response.json");
    writeFile(directory.file("target"), "kept");
    ASSERT_EQ(symlink("target", path.c_str()), 0);
    Codec::writeResponse(response, path);
    EXPECT_EQ(readFile(path), R"({"bookmarkDataBase64":"QQ==","error":"e","outcome":"failed",)"
                              R"("replaceApproved":true,"schemaVersion":1,"selectedPath":"\/p"})");
    EXPECT_EQ(Codec::decodeResponse(readFile(path)), response);
    EXPECT_EQ(readFile(directory.file("target")), "kept");
    EXPECT_EQ(std::filesystem::symlink_status(path).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(SmartSavePanelMessageCodec, DecodesOnlyWellTypedRecordsAndIgnoresUnknownKeys) {
    // Nothing expected: a decoding error.
    const std::vector<std::pair<std::string, std::optional<Response>>> rows = {
        {R"({"outcome":"cancelled","schemaVersion":1,"extra":[1]})", Response(cancelled)},
        {R"({"outcome":"selected","schemaVersion":1.0,"selectedPath":null,"error":null})",
         Response(selected)},
        {R"({"outcome":"maybe","schemaVersion":1})", std::nullopt},
        {R"({"outcome":"cancelled","schemaVersion":"1"})", std::nullopt},
        {R"({"outcome":"cancelled","schemaVersion":1.5})", std::nullopt},
        {R"({"outcome":"cancelled"})", std::nullopt},
        {R"({"schemaVersion":1})", std::nullopt},
        {R"({"outcome":"failed","schemaVersion":1,"error":5})", std::nullopt},
        {R"({"outcome":"selected","schemaVersion":1,"replaceApproved":1})", std::nullopt},
        {R"(["outcome","cancelled"])", std::nullopt},
    };
    for (const auto& [json, expected] : rows) {
        if (expected)
            EXPECT_EQ(Codec::decodeResponse(json), *expected) << json;
        else
            EXPECT_THROW(Codec::decodeResponse(json), SmartSavePanelDecodingError) << json;
    }
}

} // namespace
} // namespace brindle::testing
