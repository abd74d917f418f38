// "chooseSaveDestination" against a stand-in save panel, through the built host.

#include "Support/HostProcess.h"
#include "Support/SavePanelStandIn.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

namespace brindle::testing {
namespace {

TEST(ChooseSaveDestination, AsksTheSavePanelAndRepliesWithItsAnswer) {
    TemporaryDirectory root;
    const std::string panelData = root.file("Brindle/DirectSave/SavePanel");
    ProcessOptions options;
    options.environment = {{"BRINDLE_DIRECT_SAVE_DIR", root.file("Brindle/DirectSave/Incoming")},
                           {"BRINDLE_SAVE_UI_APP", root.file("Panel.app")}};
    makeSavePanelBundle(root.file("Panel.app"), "printf '%s\\n' \"$@\" > " + root.file("args") +
                                                    "; cat \"$2\" > " + root.file("request") +
                                                    "; cat " + root.file("response") + " > \"$4\"");
    writeFile(root.file("existing.png"), "");
    std::filesystem::create_symlink(root.file("nowhere"), root.file("dangling.png"));
    const object choose{{"action", "chooseSaveDestination"},
                        {"suggestedFilename", "a/b.png"},
                        {"startingDirectory", "/start"},
                        {"panelTitle", "T"},
                        {"panelMessage", ""}};
    const auto selected = [&](const std::string& name, const std::string& approval = "") {
        return R"({"outcome":"selected",)" + approval + R"("schemaVersion":1,"selectedPath":")" +
               root.file(name) + "\"}";
    };
    const auto chosen = [&](const std::string& name, bool approved) {
        return object{{"ok", true},
                      {"cancelled", false},
                      {"path", root.file(name)},
                      {"overwriteApproved", approved}};
    };
    // A file that appeared after the user confirmed a free name was never approved.
    const std::vector<std::pair<std::string, object>> rows = {
        {selected("existing.png"), chosen("existing.png", true)},
        {selected("existing.png", R"("replaceApproved":false,)"), chosen("existing.png", false)},
        {selected("new.png", R"("replaceApproved":true,)"), chosen("new.png", false)},
        {selected("dangling.png", R"("replaceApproved":true,)"), chosen("dangling.png", true)},
        {R"({"outcome":"cancelled","schemaVersion":1})", {{"ok", true}, {"cancelled", true}}},
        {R"({"outcome":"failed","schemaVersion":1,"error":"面板坏了"})",
         {{"ok", false}, {"error", "面板坏了"}}},
    };
    for (const auto& [response, expected] : rows) {
        writeFile(root.file("response"), response);
        EXPECT_EQ(singleReply(choose, options), expected);
    }
    EXPECT_EQ(entries(panelData + "/PanelRequests"), std::vector<std::string>{});
    EXPECT_EQ(readFile(root.file("request")),
              R"({"directoryPath":"\/start","kind":"chooseDestination","panelTitle":"T",)"
              R"("schemaVersion":1,"suggestedFilename":"a\/b.png"})");
    const std::string exchange = panelData + "/PanelRequests/";
    EXPECT_TRUE(std::regex_match(readFile(root.file("args")),
                                 std::regex("--request\n" + exchange +
                                            "([0-9a-f-]{36})\\.request\\.json\n" + "--response\n" +
                                            exchange + "\\1\\.response\\.json\n")));

    // The data folder comes first, the request's fields next, the bundle's checks last (those are
    // the bridge's).
    TemporaryDirectory fresh;
    options.environment["BRINDLE_DIRECT_SAVE_DIR"] = fresh.file("DirectSave/Incoming");
    options.environment["BRINDLE_SAVE_UI_APP"] = fresh.file("Nowhere.app");
    EXPECT_EQ(singleReply({{"action", "chooseSaveDestination"}, {"startingDirectory", 5}}, options),
              (object{{"ok", false}, {"error", "缺少字段：suggestedFilename"}}));
    EXPECT_EQ(std::filesystem::symlink_status(fresh.file("DirectSave/SavePanel")).permissions(),
              std::filesystem::perms::owner_all);
}

} // namespace
} // namespace brindle::testing
