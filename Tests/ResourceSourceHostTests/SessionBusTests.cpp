// "revealFile" and "activateSaveDestinationPanel" through the built host, on a private session
// bus whose file manager and save panel record what they were asked, the path rules in-process;
// then "chooseSaveDestination" against a stand-in save panel.

#include "ResourceSourceHost/FinderRevealer.h"
#include "SmartSaveUIBridge/SavePanelActivation.h"
#include "Support/HostProcess.h"
#include "Support/SavePanelStandIn.h"

#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

object revealed(const std::string& path) {
    return {{"ok", true}, {"revealed", true}, {"path", path}};
}

// Runs the host on a session bus of its own (dbus-run-session), after the shell commands `before`,
// and returns its replies; it must exit 0 and write nothing to standard error, and what `before`
// started is waited for. With a file manager, the bus starts the recording stand-in, which writes
// to `folder`/record a line per ShowItems call, on the first call to it.
Messages exchangeOnBus(const std::string& folder, bool withFileManager, const Messages& requests,
                       const std::string& before = "") {
    std::filesystem::create_directories(folder + "/services");
    writeFile(folder + "/bus.conf",
              "<busconfig><type>session</type><listen>unix:tmpdir=" + folder +
                  "</listen><auth>EXTERNAL</auth><servicedir>" + folder +
                  "/services</servicedir><policy context='default'><allow send_destination='*'/>"
                  "<allow receive_sender='*'/><allow own='*'/></policy></busconfig>");
    if (withFileManager)
        writeFile(folder + "/services/fm.service",
                  "[D-BUS Service]\nName=org.freedesktop.FileManager1\n"
                  "Exec=/usr/bin/python3 " BRINDLE_FILE_MANAGER_RECORDER " " +
                      folder + "/record");
    std::string input;
    for (const auto& request : requests)
        input += frameJSON(request);
    // The daemon has its own standard error; only the host's is checked.
    const ProcessResult result =
        runProcess("/usr/bin/dbus-run-session", input,
                   {{"--config-file=" + folder + "/bus.conf", "--", "/bin/sh", "-c",
                     before + R"("$0" 2>"$1"; status=$?; wait; exit $status)", BRINDLE_HOST_PATH,
                     folder + "/host-stderr"},
                    {}});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(readFile(folder + "/host-stderr"), "");
    return parseFrames(result.standardOutput);
}

TEST(RevealFile, ShowsTheStandardisedFileAsAPercentEncodedURIOrRevealsWithoutAFileManager) {
    TemporaryDirectory files; // its path needs no percent-encoding: the URIs below spell it
    std::filesystem::create_directory(files.file("Saved images"));
    const std::string odd = files.file("Saved images/图 1 ü%#?;~.png");
    writeFile(odd, "png");
    writeFile(files.file("a.txt"), "a");
    // Existence and folder-ness are judged through links; a link is shown as itself.
    ASSERT_EQ(symlink("a.txt", files.file("file-link").c_str()), 0);
    ASSERT_EQ(symlink("gone", files.file("dangling-link").c_str()), 0);
    ASSERT_EQ(symlink("Saved images", files.file("folder-link").c_str()), 0);
    // ".." is lexical: it steps back over "a.txt" even though that is a file.
    const std::string in = files.path();
    Messages requests;
    for (const std::string& path :
         {odd, in + "/./a.txt", in + "/Saved images/../a.txt", in + "/never-there.png", in + "/",
          in + "/a.txt/..", in + "/dangling-link", in + "/folder-link", in + "/file-link"})
        requests.push_back({{"action", "revealFile"}, {"path", path}});
    const auto replies = exchangeOnBus(files.file("bus"), true, requests);
    const object missing{{"ok", true}, {"revealed", false}, {"missing", true}};
    EXPECT_EQ(replies, (Messages{revealed(odd), revealed(files.file("a.txt")),
                                 revealed(files.file("a.txt")), missing, missing, missing, missing,
                                 missing, revealed(files.file("file-link"))}));
    const auto shown = [](const std::string& path) {
        return "{\"uris\": [\"file://" + path + "\"], \"startupId\": \"\"}\n";
    };
    EXPECT_EQ(readFile(files.file("bus/record")),
              shown(files.path() + "/Saved%20images/%E5%9B%BE%201%20%C3%BC%25%23%3F%3B~.png") +
                  shown(files.file("a.txt")) + shown(files.file("a.txt")) +
                  shown(files.file("file-link")));

    // Still revealed without a file manager, or a bus that answers.
    EXPECT_EQ(exchangeOnBus(files.file("plain-bus"), false, {requests[1]}),
              Messages{revealed(files.file("a.txt"))});

    // A socket that accepts connections and never says a word.
    const platform::FileDescriptor silent(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{AF_UNIX, {}};
    files.file("silent-bus").copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(silent.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(silent.get(), 8), 0);
    // Edge cases of the bus in-process: the built host's reply and silence are shown above.
    for (const char* name : {"no-bus", "silent-bus"}) {
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + files.file(name)).c_str(), 1);
        EXPECT_EQ(FinderRevealer().revealFile(files.file("a.txt")).resultCase(),
                  FinderRevealResult::Case::revealed)
            << name;
    }
    unsetenv("DBUS_SESSION_BUS_ADDRESS");

    // Unusable paths are refused; the longest path is examined, and is not there.
    for (const std::string& path : {std::string("relative/file.png"), std::string("./file.png"),
                                    std::string("/tmp/a\0b", 8), "/" + std::string(8192, 'a')})
        EXPECT_EQ(caseOf<FinderRevealError>([&] { FinderRevealer().revealFile(path); }),
                  FinderRevealError::Case::invalidPath);
    EXPECT_EQ(FinderRevealer().revealFile("/" + std::string(8191, 'a')).resultCase(),
              FinderRevealResult::Case::missing);
}

TEST(ActivateSaveDestinationPanel, ActivatesAPanelThatOwnsTheNameAndThenBroadcasts) {
    namespace names = savePanelActivation;
    TemporaryDirectory root;
    const std::string record = root.file("record");
    // The recorder owns the panel's name before the host starts; it quits after the signal.
    const std::string recorder =
        "/usr/bin/python3 " BRINDLE_SAVE_PANEL_RECORDER " " + record + " " + names::busName + " " +
        names::objectPath + " " + names::interfaceName + " " + names::activateMethod + " " +
        names::activationRequestedSignal + " & for i in $(seq 200); do [ -e " + record +
        ".ready ] && break; sleep 0.05; done; ";
    const object activate{{"action", "activateSaveDestinationPanel"}};
    for (const bool withPanel : {true, false})
        EXPECT_EQ(exchangeOnBus(root.file(withPanel ? "panel" : "none"), false, {activate},
                                withPanel ? recorder : ""),
                  (Messages{{{"ok", true}, {"activated", withPanel}}}));
    EXPECT_EQ(readFile(record), "Activate\nActivationRequested\n");

    const ProcessOptions noBus{{},
                               {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root.file("no-bus")}}};
    EXPECT_EQ(exchange({activate}, noBus), (Messages{{{"ok", true}, {"activated", false}}}));
}

TEST(ChooseSaveDestination, AsksTheSavePanelAndRepliesWithItsAnswer) {
    TemporaryDirectory root;
    const std::string panelRequests = root.file("Brindle/DirectSave/SavePanel/PanelRequests");
    ProcessOptions options;
    options.environment = {{"BRINDLE_DIRECT_SAVE_DIR", root.file("Brindle/DirectSave/Incoming")},
                           {"BRINDLE_SAVE_UI_APP", root.file("Panel.app")}};
    // The panel reads the request at its second argument and answers at its fourth, both in the
    // private exchange folder (the option names are the real panel's test).
    makeSavePanelBundle(root.file("Panel.app"), "[ \"${2%/*}:${4%/*}\" = " + panelRequests + ":" +
                                                    panelRequests + " ] && cat \"$2\" > " +
                                                    root.file("request") + "; cat " +
                                                    root.file("response") + " > \"$4\"");
    writeFile(root.file("existing.png"), "");
    std::filesystem::create_symlink(root.file("nowhere"), root.file("dangling.png"));
    const object choose = json(R"({"action":"chooseSaveDestination","suggestedFilename":"a/b.png",
                                   "startingDirectory":"/start","panelTitle":"T","panelMessage":""})");
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
        EXPECT_EQ(exchange({choose}, options), Messages{expected});
    }
    EXPECT_EQ(entries(panelRequests), std::vector<std::string>{});
    EXPECT_EQ(readFile(root.file("request")),
              R"({"directoryPath":"\/start","kind":"chooseDestination","panelTitle":"T",)"
              R"("schemaVersion":1,"suggestedFilename":"a\/b.png"})");

    // The data folder comes first, the request's fields next, the bundle's checks last (those are
    // the bridge's).
    TemporaryDirectory fresh;
    options.environment["BRINDLE_DIRECT_SAVE_DIR"] = fresh.file("DirectSave/Incoming");
    options.environment["BRINDLE_SAVE_UI_APP"] = fresh.file("Nowhere.app");
    EXPECT_EQ(
        exchange({json(R"({"action":"chooseSaveDestination","startingDirectory":5})")}, options),
        Messages{json(R"({"ok":false,"error":"缺少字段：suggestedFilename"})")});
    EXPECT_EQ(std::filesystem::symlink_status(fresh.file("DirectSave/SavePanel")).permissions(),
              std::filesystem::perms::owner_all);
}

} // namespace
} // namespace brindle::testing
