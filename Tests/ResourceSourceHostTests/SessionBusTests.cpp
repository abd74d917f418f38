// "revealFile" and "activateSaveDestinationPanel" through the built host, on a private session
// bus whose file manager and save panel record what they were asked; the path rules in-process.

#include "Platform/Files.h"
#include "ResourceSourceHost/FinderRevealer.h"
#include "SmartSaveUIBridge/SavePanelActivation.h"
#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

object reveal(const std::string& path) {
    return {{"action", "revealFile"}, {"path", path}};
}

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
    TemporaryDirectory files;
    // The expected URIs spell the temporary folder literally.
    ASSERT_EQ(files.path().find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                             "0123456789/-_."),
              std::string::npos);
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
        requests.push_back(reveal(path));
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
    EXPECT_EQ(exchangeOnBus(files.file("plain-bus"), false, {reveal(files.file("a.txt"))}),
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

    ProcessOptions noBus;
    noBus.environment = {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root.file("no-bus")}};
    EXPECT_EQ(singleReply(activate, noBus), (object{{"ok", true}, {"activated", false}}));
}

} // namespace
} // namespace brindle::testing
