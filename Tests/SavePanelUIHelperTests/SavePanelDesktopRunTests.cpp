// The real thing on a display and a session bus of the test's own (dbus-run-session): an X server
// (xvfb-run), or GNOME's compositor on Wayland (wayland-session.sh). The bundled host starts the
// bundled save panel, a name is typed into it (xdotool on X, the compositor's remote-desktop
// interface on Wayland), and the host replies with that name.

#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

namespace brindle::testing {
namespace {

using boost::json::object;

TEST(SavePanelOnTheDesktop, AnswersTheHostWithTheNameTypedIntoIt) {
    TemporaryDirectory root;
    const std::string exchange = root.file("DirectSave/SavePanel/PanelRequests");
    std::filesystem::create_directories(exchange);
    std::filesystem::create_directory(root.file("dest"));
    const std::string host = BRINDLE_BUNDLE_DIR "/Contents/MacOS/brindle-host";
    const object choose{{"action", "chooseSaveDestination"},
                        {"suggestedFilename", "photo.png"},
                        {"startingDirectory", root.file("dest")}};
    ProcessResult chosen;
    std::thread waiting([&] {
        chosen = runProcess(host, frameJSON(choose),
                            {{},
                             {{"BRINDLE_DIRECT_SAVE_DIR", root.file("DirectSave/Incoming")},
                              {"XDG_CONFIG_HOME", root.file("config")}}});
    });

    // Up once it answers a second host on the bus: no Wayland client sees another's windows.
    const std::string activate = frameJSON({{"action", "activateSaveDestinationPanel"}});
    int attempts = 0;
    while (!runProcess(host, activate).standardOutput.ends_with(R"("activated":true})") &&
           ++attempts < 300)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LT(attempts, 300);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    // On X a picture of the panel is kept in the build's test artifacts.
    std::filesystem::create_directories(BRINDLE_TEST_ARTIFACTS_DIR);
    EXPECT_EQ(std::system(std::getenv("WAYLAND_DISPLAY") != nullptr
                              ? "/usr/bin/python3 " BRINDLE_WAYLAND_KEYBOARD " report"
                              : "cd " BRINDLE_TEST_ARTIFACTS_DIR " && xwd -root -silent -out "
                                "save-panel.xwd && ffmpeg -loglevel error -y -i save-panel.xwd "
                                "save-panel.png; xdotool type --delay 40 report && xdotool key "
                                "Return"),
              0);
    waiting.join();

    EXPECT_EQ(chosen.exitStatus, 0);
    EXPECT_EQ(parseFrames(chosen.standardOutput),
              (std::vector<object>{{{"ok", true},
                                    {"cancelled", false},
                                    {"path", root.path() + "/dest/report.png"},
                                    {"overwriteApproved", false}}}))
        << chosen.standardOutput;
    EXPECT_EQ(entries(exchange), std::vector<std::string>{});
    EXPECT_FALSE(exists(root.file("config"))); // no settings of the file dialog's
}

} // namespace
} // namespace brindle::testing
