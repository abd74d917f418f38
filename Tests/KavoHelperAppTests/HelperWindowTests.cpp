// The companion's window driven in-process on Qt's offscreen platform, against a real bundle in
// a temporary home; the programs it starts are stand-in scripts that record their arguments.

#include "KavoHelperApp/HelperWindowController.h"
#include "Support/CompanionBundle.h"
#include "Support/HostProcess.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>

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
    std::unique_ptr<HelperWindowController> window(const std::string& bundle) {
        DesktopServices desktop = DesktopServices::standard();
        desktop.open = [this](const QString& target) { opened.push_back(target); };
        desktop.quit = [this] { quit = true; };
        desktop.animationsEnabled = false;
        return std::make_unique<HelperWindowController>(CompanionInstaller(bundle, home), desktop);
    }
    std::string launchedLines() {
        const auto written = [&] { return readFile(launched).ends_with('\n'); };
        return QTest::qWaitFor(written, 10000) ? readFile(launched) : "";
    }
};

TEST(HelperWindow, LaunchShowsTheStateAndThePrimaryActionTakesTheNextStep) {
    struct Row {
        bool installedCopy;
        bool connectArgument;
        const char* setUp;    // shell, in the home folder
        ViewState first;      // right after launch
        ViewState afterwards; // once the background work is done, or after the primary action
    };
    // What each state says is the installer's and the probe's (their own tables); here, which
    // state each launch starts in and where the primary action leads.
    const std::vector<Row> rows = {
        {false, true, "", ViewState::readyToInstall(), ViewState::working("正在安装助手")},
        {false, false, R"(rm -r Applications && ln -s Downloads Applications)",
         ViewState::readyToInstall(),
         ViewState::failed("为保护您的文件，Kavo助手没有修改异常路径：$H/Applications")},
        {true, false, R"(rm "$M")", ViewState::disconnected(), ViewState::connected("0.8.13")},
        {true, false, R"(echo '#!/bin/sh' > "$A/Contents/MacOS/brindle-host")",
         ViewState::checking(), ViewState::needsRepair("本机组件返回了无效信息")},
        {true, true, R"(rm "$M")", ViewState::working("正在连接 Chrome"),
         ViewState::connected("0.8.13")},
    };
    for (Row row : rows) {
        SCOPED_TRACE(row.setUp);
        Companion companion;
        row.afterwards.text =
            QString::fromStdString(companion.expand(row.afterwards.text.toStdString()));
        ASSERT_TRUE(companion.shell(row.setUp));
        auto window =
            companion.window(row.installedCopy ? companion.installed : companion.unpacked);
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        window->start(row.connectArgument);
        EXPECT_EQ(window->state(), row.first);
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
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return window->state().kind == row.afterwards.kind; }, 15000));
        EXPECT_EQ(window->state(), row.afterwards);
        // The home folder's name is markup (shown in the refusal): no text is ever read as such.
        for (const QLabel* label : window->findChildren<QLabel*>())
            EXPECT_TRUE(label->textFormat() == Qt::PlainText || !Qt::mightBeRichText(label->text()))
                << label->text().toStdString();
        // A finished install starts the installed copy to connect, and quits.
        if (row.afterwards.kind == Kind::working) {
            EXPECT_EQ(companion.launchedLines(),
                      companion.installed + "/Contents/MacOS/kavo-helper --connect\n");
        }
        EXPECT_EQ(companion.quit, row.afterwards.kind == Kind::working);
    }
}

TEST(HelperWindow, ChromeDisconnectAndLicences) {
    Companion companion;
    const QByteArray path = qgetenv("PATH");
    auto window = companion.window(companion.installed);
    window->start(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->state().kind == Kind::connected; }, 15000));

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

    const std::string notices =
        companion.installed + "/Contents/Resources/Third-Party Notices.html";
    writeFile(notices, "<html></html>");
    window->openLicences();
    EXPECT_EQ(companion.opened, std::vector<QString>{QString::fromStdString(notices)});
}

// The built bundle's kavo-helper as a user runs it, installed and connected before each row, with
// no display unless the row gives one (then one that answers nowhere). Program ‖ arguments ‖
// environment ‖ shell set-up in the home folder ‖ exit status ‖ shell check afterwards ‖ what it
// prints, "\n" a line feed: standard output, or the first line of the usage ($U) on standard
// error. $N is the line naming the companion, $K the lines of a successful probe, $B what follows
// a sandboxed browser's name.
const char* const commandLineTable =
    R"table($D/Contents/MacOS/kavo-helper ‖ ‖ DISPLAY=:4242 WAYLAND_DISPLAY=nowhere ‖ ‖ 0 ‖ test -f "$M" ‖ $N正在安装助手\n已安装：$A\n正在连接 Chrome\nGoogle Chrome 连接文件：$M\n$K
$A/Contents/MacOS/kavo-helper ‖ --terminal --connect ‖ XDG_CONFIG_HOME=$H/cfg ‖ ‖ 0 ‖ test -f cfg/google-chrome/NativeMessagingHosts/*.json ‖ $N正在连接 Chrome\nGoogle Chrome 连接文件：$H/cfg/google-chrome/NativeMessagingHosts/com.vantle.brindle.json\n$K
$D/Contents/MacOS/kavo-helper ‖ ‖ HOME=$H/\377 ‖ mkdir "$(printf '\377')" ‖ 1 ‖ test -z "$(ls -A "$(printf '\377')")" ‖ $N正在安装助手\n没有完成：浏览器的连接文件只能记录 UTF-8 文字的路径，Kavo助手不能使用这个位置：$H/�/Applications/Kavo Helper.app\n
$H/bin/kavo-helper ‖ --status ‖ ‖ mkdir bin && ln -s "$A/Contents/MacOS/kavo-helper" bin ‖ 0 ‖ ‖ $NGoogle Chrome：已连接\n$K
$A/Contents/MacOS/kavo-helper ‖ --status ‖ ‖ mkdir -p .config/chromium .var/app/org.chromium.Chromium snap/chromium ‖ 1 ‖ ‖ $NGoogle Chrome：已连接\nChromium：尚未连接\nChromium（Flatpak）$BChromium（Snap）$B连接需要修复：Chromium 尚未连接\n
$A/Contents/MacOS/kavo-helper ‖ --disconnect ‖ ‖ mkdir -p .config/vivaldi ‖ 0 ‖ test -z "$(find . -name '*.json')" ‖ $N已断开本机连接\n
$A/Contents/MacOS/kavo-helper ‖ --uninstall ‖ ‖ mkdir -p "${E%/*}" && touch "$E" ‖ 0 ‖ test ! -e "$M" && test ! -e "$E" && test -z "$(ls -A Applications)" && test -d "$D" ‖ $N已断开本机连接\n已删除：$A\n已删除：$E\n保留了本机组件的数据文件夹：$H/.local/share/Brindle（不再需要时可以自行删除）\n下载的文件都保留在原处。\n
$A/Contents/MacOS/kavo-helper ‖ --version ‖ ‖ ‖ 0 ‖ ‖ $N
$A/Contents/MacOS/kavo-helper ‖ --help ‖ ‖ ‖ 0 ‖ ‖ $U
$A/Contents/MacOS/kavo-helper ‖ --status --disconnect ‖ ‖ ‖ 2 ‖ test -f "$M" ‖ $U)table";

std::vector<std::string> words(const std::string& text) {
    std::istringstream stream(text);
    return {std::istream_iterator<std::string>(stream), std::istream_iterator<std::string>()};
}

TEST(CommandLine, EachActionDoesWhatItSaysAndExitsWithItsOutcome) {
    const Names names = {
        {"\\n", "\n"},
        {"\\377", "\xff"},
        {"$N", "Kavo助手 0.8.13\n"},
        {"$K", "正在检查连接\n本机助手已连接 · 助手版本 0.8.13\n"},
        {"$B", "：在沙盒中运行，不能启动本机助手，Kavo助手没有为它写入连接文件。请改用 Debian 的 "
               "chromium 软件包（sudo apt install chromium）。\n"},
        {"$U",
         "用法：kavo-helper [--terminal] [--connect | --disconnect | --status | --uninstall | "
         "--help | --version]\n"}};
    for (const auto& row : tableRows(commandLineTable, 7)) {
        SCOPED_TRACE(row[1] + " " + row[2] + ": " + row[3]);
        const CompanionHome home(true);
        home.install();
        CompanionInstaller(home.installed, home.home).connect();
        ASSERT_TRUE(home.shell(row[3]));
        // Through env(1): its settings, the program and its arguments, each word expanded.
        std::vector<std::string> command =
            words("HOME=$H DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM= "
                  "XDG_CONFIG_HOME= XDG_DATA_HOME= " +
                  row[2] + " " + row[0] + " " + row[1]);
        for (std::string& word : command)
            word = home.expand(replacing(word, names));
        const ProcessResult run = runProcess("/usr/bin/env", "", {command, {}});
        const int exitStatus = std::stoi(row[4]);
        EXPECT_EQ(run.exitStatus, exitStatus) << run.standardOutput << run.standardError;
        const std::string& printed = exitStatus == 2 ? run.standardError : run.standardOutput;
        EXPECT_EQ(row[6] == "$U" ? printed.substr(0, printed.find('\n') + 1) : printed,
                  home.expand(replacing(row[6], names)));
        EXPECT_TRUE(home.shell(row[5]));
    }
}

// One picture of each state as a real X server shows it, kept in the build tree.
TEST(HelperWindowScreenshots, OneOfEachState) {
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "screenshots are taken under Xvfb (the CompanionWindowScreenshots test)";
    Companion companion;
    auto window = companion.window(companion.installed);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const std::pair<const char*, ViewState> states[] = {
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
        EXPECT_TRUE(shot.save(QString(BRINDLE_ARTIFACT_DIR "/") + name + ".png"));
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
