// The built bundle's kavo-helper without a display: it installs, connects and probes in the
// terminal.

#include "Support/CompanionBundle.h"
#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace brindle::testing {
namespace {

TEST(TerminalMode, InstallsConnectsAndProbesOrSaysWhyNot) {
    TemporaryDirectory root;
    const std::string home = root.file("home");
    const std::string unpacked = home + "/Downloads/Kavo Helper.app";
    const std::string installed = home + "/Applications/Kavo Helper.app";
    // The bundle the build assembled, its tools copies and not links; the save panel is a stand-in
    // where this build has none.
    std::filesystem::create_directories(home + "/Downloads");
    std::filesystem::copy(BRINDLE_BUNDLE_DIR, unpacked,
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::copy_symlinks);
    const std::string saveUI = unpacked + "/Contents/Helpers/BrindleSaveUI.app/Contents";
    if (!exists(saveUI)) {
        std::filesystem::create_directories(saveUI);
        writeFile(saveUI + "/Info.plist", infoPropertyList("com.vantle.brindle.save-ui"));
    }
    const ProcessOptions noDisplay{
        {}, {{"HOME", home}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}};

    ProcessResult run = runProcess(unpacked + "/Contents/MacOS/kavo-helper", "", noDisplay);
    EXPECT_EQ(run.exitStatus, 0) << run.standardOutput;
    EXPECT_EQ(run.standardOutput,
              "Kavo助手 0.8.13\n正在安装助手\n已安装：" + installed +
                  "\n正在连接 Chrome\nChrome 连接文件：" + home +
                  "/.config/google-chrome/NativeMessagingHosts/com.vantle.brindle.json\n"
                  "正在检查连接\n本机助手已连接 · 助手版本 0.8.13\n");

    // The installed copy connects without installing; a host that cannot run fails the check.
    ProcessOptions terminal = noDisplay;
    terminal.arguments = {"--terminal"};
    terminal.environment["DISPLAY"] = ":99";
    chmod((installed + "/Contents/MacOS/brindle-host").c_str(), 0644);
    run = runProcess(installed + "/Contents/MacOS/kavo-helper", "", terminal);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardOutput, "Kavo助手 0.8.13\n正在连接 Chrome\n"
                                  "没有完成：Kavo助手安装包不完整：本机通信组件不能运行\n");
}

} // namespace
} // namespace brindle::testing
