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

int run(const std::string& program, std::vector<std::string> arguments) {
    return runProcess(program, "", {std::move(arguments), {}, false}).exitStatus;
}

TEST(SavePanelOnTheDesktop, AnswersTheHostWithTheNameTypedIntoIt) {
    TemporaryDirectory root;
    const std::string exchange = root.file("DirectSave/SavePanel/PanelRequests");
    std::filesystem::create_directories(exchange);
    std::filesystem::create_directory(root.file("dest"));
    writeFile(root.file("dest/photo.png"), "");
    const std::string host = BRINDLE_BUNDLE_DIR "/Contents/MacOS/brindle-host";
    const ProcessOptions options{{},
                                 {{"BRINDLE_DIRECT_SAVE_DIR", root.file("DirectSave/Incoming")},
                                  {"XDG_CONFIG_HOME", root.file("config")}}};
    const object choose{{"action", "chooseSaveDestination"},
                        {"suggestedFilename", "photo.png"},
                        {"startingDirectory", root.path() + "/dest"},
                        {"panelTitle", "Save the report"}};
    ProcessResult chosen;
    std::thread waiting([&] { chosen = runProcess(host, frameJSON(choose), options); });

    // Up once it answers a second host on the bus: no Wayland client sees another's windows.
    bool activated = false;
    for (int attempt = 0; attempt < 300 && !activated; ++attempt) {
        const object activate{{"action", "activateSaveDestinationPanel"}};
        activated = parseFrames(runProcess(host, frameJSON(activate)).standardOutput) ==
                    std::vector<object>{{{"ok", true}, {"activated", true}}};
        std::this_thread::sleep_for(std::chrono::milliseconds(activated ? 1000 : 100));
    }
    EXPECT_TRUE(activated);
    if (std::getenv("WAYLAND_DISPLAY") != nullptr) {
        EXPECT_EQ(run("/usr/bin/python3", {BRINDLE_WAYLAND_KEYBOARD, "report"}), 0);
    } else {
        std::filesystem::create_directories(BRINDLE_TEST_ARTIFACTS_DIR);
        const std::string screenshot = BRINDLE_TEST_ARTIFACTS_DIR "/save-panel.xwd";
        EXPECT_EQ(run("/usr/bin/xwd", {"-root", "-silent", "-out", screenshot}), 0);
        run("/usr/bin/ffmpeg", {"-loglevel", "error", "-y", "-i", screenshot,
                                BRINDLE_TEST_ARTIFACTS_DIR "/save-panel.png"});
        EXPECT_EQ(run("/usr/bin/xdotool", {"type", "--delay", "40", "report"}) +
                      run("/usr/bin/xdotool", {"key", "Return"}),
                  0);
    }
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
