// "chooseSaveDestination" against a stand-in save panel and "activateSaveDestinationPanel" on a
// private session bus, through the built host.

#include "SmartSaveUIBridge/SavePanelActivation.h"
#include "Support/HostProcess.h"
#include "Support/SavePanelStandIn.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace brindle::testing {
namespace {

using boost::json::object;

TEST(ChooseSaveDestination, AsksTheSavePanelAndRepliesWithItsAnswer) {
    TemporaryDirectory root;
    const std::string panelData = root.file("Brindle/DirectSave/SavePanel");
    ProcessOptions options;
    options.environment = {{"BRINDLE_DIRECT_SAVE_DIR", root.file("Brindle/DirectSave/Incoming")},
                           {"BRINDLE_SAVE_UI_APP", root.file("Panel.app")}};
    makeSavePanelBundle(root.file("Panel.app"), "printf '%s\\n' \"$@\" > " + root.file("args") +
                                                    "; cat \"$2\" > " + root.file("request") +
                                                    "; cat " + root.file("response") + " > \"$4\"");
    const auto respond = [&](const std::string& json) { writeFile(root.file("response"), json); };
    writeFile(root.file("existing.png"), "");
    const object choose{{"action", "chooseSaveDestination"},
                        {"suggestedFilename", "a/b.png"},
                        {"startingDirectory", "/start"},
                        {"panelTitle", "T"},
                        {"panelMessage", ""}};

    respond(R"({"outcome":"selected","schemaVersion":1,"selectedPath":")" +
            root.file("existing.png") + "\"}");
    EXPECT_EQ(singleReply(choose, options), (object{{"ok", true},
                                                    {"cancelled", false},
                                                    {"path", root.file("existing.png")},
                                                    {"overwriteApproved", true}}));
    EXPECT_EQ(readFile(root.file("request")),
              R"({"directoryPath":"\/start","kind":"chooseDestination","panelTitle":"T",)"
              R"("schemaVersion":1,"suggestedFilename":"a\/b.png"})");
    const std::string args = readFile(root.file("args"));
    const std::string token = args.substr(args.find("PanelRequests/") + 14, 36);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef-"), std::string::npos);
    const std::string exchange = panelData + "/PanelRequests/" + token;
    EXPECT_EQ(args, "--request\n" + exchange + ".request.json\n--response\n" + exchange +
                        ".response.json\n");

    respond(R"({"outcome":"selected","schemaVersion":1,"selectedPath":")" + root.file("new.png") +
            "\"}");
    EXPECT_EQ(singleReply(choose, options), (object{{"ok", true},
                                                    {"cancelled", false},
                                                    {"path", root.file("new.png")},
                                                    {"overwriteApproved", false}}));
    respond(R"({"outcome":"cancelled","schemaVersion":1})");
    EXPECT_EQ(singleReply(choose, options), (object{{"ok", true}, {"cancelled", true}}));
    respond(R"({"outcome":"failed","schemaVersion":1,"error":"面板坏了"})");
    EXPECT_EQ(singleReply(choose, options), (object{{"ok", false}, {"error", "面板坏了"}}));
    EXPECT_EQ(entries(panelData + "/PanelRequests"), std::vector<std::string>{});

    // The data folder comes first, the request's fields next, the bundle's checks last.
    TemporaryDirectory fresh;
    options.environment["BRINDLE_DIRECT_SAVE_DIR"] = fresh.file("DirectSave/Incoming");
    options.environment["BRINDLE_SAVE_UI_APP"] = fresh.file("Nowhere.app");
    EXPECT_EQ(singleReply({{"action", "chooseSaveDestination"}, {"startingDirectory", 5}}, options),
              (object{{"ok", false}, {"error", "缺少字段：suggestedFilename"}}));
    struct stat status {};
    ASSERT_EQ(stat(fresh.file("DirectSave/SavePanel").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    EXPECT_EQ(
        singleReply({{"action", "chooseSaveDestination"}, {"suggestedFilename", "a"}}, options),
        (object{{"ok", false}, {"error", "智能保存窗口组件未正确安装，请重新运行安装脚本"}}));
}

TEST(ActivateSaveDestinationPanel, ActivatesAPanelThatOwnsTheNameAndThenBroadcasts) {
    namespace names = savePanelActivation;
    TemporaryDirectory root;
    const object activate{{"action", "activateSaveDestinationPanel"}};
    const std::string record = root.file("record");
    // The recorder owns the panel's name before the host starts; it quits after the signal.
    const std::string script =
        R"(if [ -n "$2" ]; then /usr/bin/python3 )" BRINDLE_SAVE_PANEL_RECORDER
        R"( "$2" "$4" "$5" "$6" "$7" "$8" & for i in $(seq 200); do [ -e "$2.ready" ] && break;
        sleep 0.05; done; fi; "$1" 2>"$3"; status=$?; wait; exit $status)";
    for (const bool withPanel : {true, false}) {
        ProcessOptions options;
        options.arguments = {"--",
                             "/bin/sh",
                             "-c",
                             script,
                             "sh",
                             BRINDLE_HOST_PATH,
                             withPanel ? record : "",
                             root.file("host-stderr"),
                             names::busName,
                             names::objectPath,
                             names::interfaceName,
                             names::activateMethod,
                             names::activationRequestedSignal};
        const ProcessResult result =
            runProcess("/usr/bin/dbus-run-session", frameJSON(activate), options);
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        EXPECT_EQ(readFile(root.file("host-stderr")), "");
        const object expected{{"ok", true}, {"activated", withPanel}};
        EXPECT_EQ(parseFrames(result.standardOutput), std::vector<object>{expected});
    }
    EXPECT_EQ(readFile(record), "Activate\nActivationRequested\n");

    ProcessOptions noBus;
    noBus.environment = {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root.file("no-bus")}};
    EXPECT_EQ(singleReply(activate, noBus), (object{{"ok", true}, {"activated", false}}));
}

} // namespace
} // namespace brindle::testing
