// The companion's window driven in-process on Qt's offscreen platform, against a real bundle in
// a temporary home; the programs it starts are stand-in scripts that record their arguments.
// Under Xvfb the screenshot test keeps a picture of every state.

#include "KavoHelperApp/HelperWindowController.h"
#include "Support/CompanionBundle.h"
#include "Support/HostProcess.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

namespace brindle::testing {
namespace {

using Kind = ViewState::Kind;

// Installed and connected; the relaunched companion and the browser record how they were started.
struct Companion : CompanionHome {
    std::string launched = root.file("launched");
    std::vector<QString> opened;
    bool quit = false;

    Companion() {
        for (const std::string& program :
             {unpacked + "/Contents/MacOS/kavo-helper", root.file("bin/chromium")}) {
            std::filesystem::create_directories(std::filesystem::path(program).parent_path());
            writeFile(program, "#!/bin/sh\nprintf '%s\\n' \"$0 $*\" >> '" + launched + "'\n", 0755);
        }
        install();
        CompanionInstaller(installed, home).connect();
    }
    std::unique_ptr<HelperWindowController> window(const std::string& bundle, bool animations) {
        DesktopServices desktop = DesktopServices::standard();
        desktop.open = [this](const QString& target) { opened.push_back(target); };
        desktop.quit = [this] { quit = true; };
        desktop.animationsEnabled = animations;
        return std::make_unique<HelperWindowController>(CompanionInstaller(bundle, home), desktop);
    }
    std::string launchedLines() {
        const auto written = [&] { return exists(launched) && readFile(launched).ends_with('\n'); };
        return QTest::qWaitFor(written, 10000) ? readFile(launched) : "";
    }
};

bool settlesIn(const HelperWindowController& window, Kind kind) {
    return QTest::qWaitFor([&] { return window.state().kind == kind; }, 15000);
}

TEST(HelperWindow, LaunchShowsTheStateAndThePrimaryActionTakesTheNextStep) {
    struct Row {
        bool installedCopy;
        bool connectArgument;
        const char* setUp;    // shell, in the home folder
        ViewState first;      // right after launch
        ViewState afterwards; // once the background work is done, or after the primary action
    };
    const std::vector<Row> rows = {
        {false, true, "", ViewState::readyToInstall(), ViewState::working("正在安装助手")},
        {false, false, R"(sed -i s/kavo.helper/other/ "$A/Contents/Info.plist")",
         ViewState::readyToInstall(), ViewState::failed("Kavo助手安装包不完整：现有Kavo助手无效")},
        {true, false, R"(rm "$M")", ViewState::disconnected(), ViewState::connected("0.8.13")},
        {true, false, R"(echo {} > "$M")", ViewState::needsRepair("Chrome 的连接信息不是当前版本"),
         ViewState::connected("0.8.13")},
        {true, false, "", ViewState::checking(), ViewState::connected("0.8.13")},
        {true, false, R"(echo '#!/bin/sh' > "$A/Contents/MacOS/brindle-host")",
         ViewState::checking(), ViewState::needsRepair("本机组件返回了无效信息")},
        {true, true, R"(rm "$M")", ViewState::working("正在连接 Chrome"),
         ViewState::connected("0.8.13")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows.data()));
        Companion companion;
        ASSERT_TRUE(companion.shell(row.setUp));
        auto window =
            companion.window(row.installedCopy ? companion.installed : companion.unpacked, false);
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        window->start(row.connectArgument);
        EXPECT_EQ(window->state(), row.first);
        EXPECT_EQ(window->statusCardOpacity(), 1.0) << "no animations were asked for";
        if (row.first.kind != Kind::checking && row.first.kind != Kind::working) {
            // Return installs, a click connects: both take the primary action.
            if (row.installedCopy)
                window->primaryButton()->click();
            else
                QTest::keyClick(window.get(), Qt::Key_Return);
            EXPECT_EQ(window->state(),
                      ViewState::working(row.installedCopy ? "正在连接 Chrome" : "正在安装助手"));
            EXPECT_FALSE(window->primaryButton()->isEnabled());
        }
        EXPECT_TRUE(settlesIn(*window, row.afterwards.kind));
        EXPECT_EQ(window->state(), row.afterwards);
        EXPECT_EQ(window->disconnectButton()->isVisibleTo(window.get()),
                  row.afterwards.kind == Kind::connected);
        // A finished install starts the installed copy to connect, and quits.
        if (row.afterwards.kind == Kind::working) {
            EXPECT_EQ(companion.launchedLines(),
                      companion.installed + "/Contents/MacOS/kavo-helper --connect\n");
        }
        EXPECT_EQ(companion.quit, row.afterwards.kind == Kind::working);
    }
}

TEST(HelperWindow, ChromeDisconnectLicencesAndTheFade) {
    Companion companion;
    const QByteArray path = qgetenv("PATH");
    auto window = companion.window(companion.installed, true);
    window->start(true);
    ASSERT_TRUE(settlesIn(*window, Kind::connected));

    qputenv("PATH", QByteArray::fromStdString(companion.root.file("none")));
    window->chromeButton()->click();
    EXPECT_EQ(window->state(),
              ViewState::failed("没有找到 Google Chrome。请先安装或打开 Chrome。"));
    qputenv("PATH", QByteArray::fromStdString(companion.root.file("bin")));
    window->chromeButton()->click();
    qputenv("PATH", path);
    EXPECT_EQ(companion.launchedLines(),
              companion.root.file("bin/chromium") +
                  " chrome://extensions/?id=pmoihgkcfjbalendpmoihgkcfjbalend\n");

    window->disconnectButton()->click();
    EXPECT_EQ(window->state(), ViewState::disconnected());
    EXPECT_FALSE(exists(companion.manifest));
    // The card fades in where the desktop asks for animations.
    EXPECT_LT(window->statusCardOpacity(), 1.0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->statusCardOpacity() == 1.0; }, 2000));

    window->openLicences();
    EXPECT_TRUE(companion.opened.empty());
    const std::string notices =
        companion.installed + "/Contents/Resources/Third-Party Notices.html";
    writeFile(notices, "<html></html>");
    window->openLicences();
    EXPECT_EQ(companion.opened, std::vector<QString>{QString::fromStdString(notices)});
}

// The built bundle's kavo-helper without a display installs, connects and probes in the terminal.
TEST(TerminalMode, InstallsConnectsAndProbesOrSaysWhyNot) {
    const CompanionHome home(true);
    const ProcessOptions noDisplay{
        {},
        {{"HOME", home.home}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}};
    ProcessResult run = runProcess(home.unpacked + "/Contents/MacOS/kavo-helper", "", noDisplay);
    EXPECT_EQ(run.exitStatus, 0) << run.standardOutput;
    EXPECT_EQ(run.standardOutput,
              home.expand("Kavo助手 0.8.13\n正在安装助手\n已安装：$A\n正在连接 Chrome\nChrome "
                          "连接文件：$M\n正在检查连接\n本机助手已连接 · 助手版本 0.8.13\n"));

    // The installed copy connects without installing; a host that cannot run fails the check.
    ProcessOptions terminal = noDisplay;
    terminal.arguments = {"--terminal"};
    terminal.environment["DISPLAY"] = ":99";
    ASSERT_TRUE(home.shell(R"(chmod 644 "$A/Contents/MacOS/brindle-host")"));
    run = runProcess(home.installed + "/Contents/MacOS/kavo-helper", "", terminal);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardOutput, "Kavo助手 0.8.13\n正在连接 Chrome\n"
                                  "没有完成：Kavo助手安装包不完整：本机通信组件不能运行\n");
}

TEST(HelperWindowScreenshots, OneOfEachState) {
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "screenshots are taken under Xvfb (the CompanionWindowScreenshots test)";
    Companion companion;
    auto window = companion.window(companion.installed, false);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const std::vector<std::pair<std::string, ViewState>> states = {
        {"connected", ViewState::connected("0.8.13")},
        {"needsRepair", ViewState::needsRepair("Chrome 的连接信息不是当前版本")},
        {"working", ViewState::working("正在连接 Chrome")},
        {"failed", ViewState::failed("没有找到 Google Chrome。请先安装或打开 Chrome。")},
        {"checking", ViewState::checking()},
        {"readyToInstall", ViewState::readyToInstall()},
        {"disconnected", ViewState::disconnected()},
    };
    QDir().mkpath(BRINDLE_ARTIFACT_DIR);
    for (const auto& [name, state] : states) {
        window->render(state, false);
        QTest::qWait(100);
        const QPixmap shot = window->screen()->grabWindow(window->winId());
        EXPECT_TRUE(shot.save(BRINDLE_ARTIFACT_DIR "/" + QString::fromStdString(name) + ".png"));
        EXPECT_EQ(shot.size(), QSize(520, 452)) << name;
    }
}

} // namespace
} // namespace brindle::testing

// Qt and fontconfig keep caches for the life of the process; LeakSanitizer reads this.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libQt6\nleak:libfontconfig\nleak:libxcb\nleak:libX11\nleak:libdbus\n";
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
