// The exchange records' JSON form, as both programs write and read it.

#include "SmartSaveUIBridge/SmartSavePanelProtocol.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

namespace brindle::testing {
namespace {

using Codec = SmartSavePanelMessageCodec;

TEST(SmartSavePanelMessageCodec, WritesCompactSortedJSONWithEscapedSlashesForTheOwnerOnly) {
    const SmartSavePanelRequest request(SmartSavePanelKind::chooseLibraryRoot, "/a/b", "x/y.png",
                                        "T", "多行\n消息", "com.apple.keylayout.ABC");
    const SmartSavePanelResponse response(SmartSavePanelOutcome::failed, "/p", "QQ==", "e", true);
    TemporaryDirectory directory;
    const std::string requestPath = directory.file("t.request.json");
    const std::string responsePath = directory.file("t.response.json");
    Codec::writeRequest(request, requestPath);
    Codec::writeResponse(response, responsePath);
    EXPECT_EQ(readFile(requestPath),
              R"({"directoryPath":"\/a\/b","kind":"chooseLibraryRoot",)"
              R"("originalInputSourceIdentifier":"com.apple.keylayout.ABC",)"
              R"("panelMessage":"多行\n消息","panelTitle":"T","schemaVersion":1,)"
              R"("suggestedFilename":"x\/y.png"})");
    EXPECT_EQ(readFile(responsePath),
              R"({"bookmarkDataBase64":"QQ==","error":"e","outcome":"failed",)"
              R"("replaceApproved":true,"schemaVersion":1,"selectedPath":"\/p"})");
    EXPECT_EQ(Codec::decodeRequest(requestPath), request);
    EXPECT_EQ(Codec::decodeResponse(readFile(responsePath)), response);
    EXPECT_EQ(statusOf(responsePath).st_mode & 07777, 0600u);
}

} // namespace
} // namespace brindle::testing
