// The companion's window driven in-process on Qt's offscreen platform, against a real bundle in
// a temporary home; the programs it starts are stand-in scripts that record their arguments.
// Under Xvfb the screenshot test keeps a picture of every state.

#include "KavoHelperApp/HelperWindowController.h"
#include "Support/CompanionBundle.h"
#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace brindle::testing {
namespace {

namespace fs = std::filesystem;
using Kind = ViewState::Kind;

struct Companion {
    TemporaryDirectory root;
    std::string home = root.file("home");
    std::string installed = home + "/Applications/Kavo Helper.app";
    std::string unpacked = home + "/Downloads/Kavo Helper.app";
    std::string manifest =
        home + "/.config/google-chrome/NativeMessagingHosts/com.vantle.brindle.json";
    std::string launched = root.file("launched"); // what the stand-ins were started with
    std::vector<QString> opened;
    bool quit = false;

    explicit Companion(bool installedCopy = true) {
        makeCompanionBundle(installedCopy ? installed : unpacked);
        // The relaunched companion and the browser record how they were started.
        for (const std::string& program :
             {(installedCopy ? installed : unpacked) + "/Contents/MacOS/kavo-helper",
              root.file("bin/chromium")}) {
            fs::create_directories(fs::path(program).parent_path());
            writeFile(program, "#!/bin/sh\necho \"$0 $*\" >> '" + launched + "'\n", 0755);
        }
    }
    std::unique_ptr<HelperWindowController> window(bool animations = false,
                                                   std::string bundle = "") {
        DesktopServices desktop = DesktopServices::standard();
        desktop.open = [this](const QString& target) { opened.push_back(target); };
        desktop.quit = [this] { quit = true; };
        desktop.animationsEnabled = animations;
        return std::make_unique<HelperWindowController>(
            CompanionInstaller(bundle.empty() ? installed : bundle, home), desktop);
    }
    std::string launchedLines() {
        const auto written = [&] { return exists(launched) && readFile(launched).ends_with('\n'); };
        return QTest::qWaitFor(written, 10000) ? readFile(launched) : "";
    }
};

bool settlesIn(const HelperWindowController& window, Kind kind) {
    return QTest::qWaitFor([&] { return window.state().kind == kind; }, 15000);
}

TEST(HelperWindow, LaunchShowsTheStateAndThePrimaryButtonTakesTheNextStep) {
    struct Row {
        std::string name;
        bool installedCopy;
        bool connectArgument;
        std::function<void(Companion&)> setUp;
        ViewState first;      // right after launch
        ViewState afterwards; // once the background work is done, or after [primary]
    };
    const auto manifestFor = [](const std::string& host) {
        return [host](Companion& companion) {
            fs::create_directories(fs::path(companion.manifest).parent_path());
            writeFile(
                companion.manifest,
                R"({"name":"com.vantle.brindle","type":"stdio","path":")" +
                    (host.empty() ? companion.installed + "/Contents/MacOS/brindle-host" : host) +
                    R"(","allowed_origins":["chrome-extension://pmoihgkcfjbalendpmoihgkcfjbalend/"]})");
        };
    };
    const std::vector<Row> rows = {
        {"not installed", false, true, nullptr, ViewState::readyToInstall(), {}},
        {"no manifest", true, false, nullptr, ViewState::disconnected(),
         ViewState::connected("0.8.13")},
        {"older manifest", true, false, manifestFor("/old/brindle-host"),
         ViewState::needsRepair("Chrome 的连接信息不是当前版本"), ViewState::connected("0.8.13")},
        {"current manifest", true, false, manifestFor(""), ViewState::checking(),
         ViewState::connected("0.8.13")},
        {"host broken", true, false,
         [&](Companion& companion) {
             manifestFor("")(companion);
             writeFile(companion.installed + "/Contents/MacOS/brindle-host", "#!/bin/sh\n", 0755);
         },
         ViewState::checking(), ViewState::needsRepair("本机组件返回了无效信息")},
        {"--connect", true, true, nullptr, ViewState::working("正在连接 Chrome"),
         ViewState::connected("0.8.13")},
    };
    for (const Row& row : rows) {
        Companion companion(row.installedCopy);
        if (row.setUp)
            row.setUp(companion);
        auto window = companion.window(false, row.installedCopy ? "" : companion.unpacked);
        window->start(row.connectArgument);
        EXPECT_EQ(window->state(), row.first) << row.name;
        EXPECT_EQ(window->primaryButton()->isEnabled(), presentation(row.first).primaryEnabled);
        if (row.afterwards == ViewState())
            continue;
        if (row.first.kind != Kind::checking && row.first.kind != Kind::working) {
            window->primaryButton()->click();
            EXPECT_EQ(window->state(), ViewState::working("正在连接 Chrome")) << row.name;
            EXPECT_FALSE(window->primaryButton()->isEnabled()) << row.name;
        }
        EXPECT_TRUE(settlesIn(*window, row.afterwards.kind)) << row.name;
        EXPECT_EQ(window->state(), row.afterwards) << row.name;
        EXPECT_EQ(window->disconnectButton()->isVisibleTo(window.get()),
                  row.afterwards.kind == Kind::connected)
            << row.name;
    }
}

TEST(HelperWindow, InstallRelaunchesTheInstalledCopyOrShowsWhyNot) {
    Companion companion(false);
    auto window = companion.window(false, companion.unpacked);
    window->start(false);
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_EQ(window->state(), ViewState::working("正在安装助手"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return companion.quit; }, 15000));
    EXPECT_EQ(companion.launchedLines(),
              companion.installed + "/Contents/MacOS/kavo-helper --connect\n");

    Companion refused(false);
    fs::create_directories(refused.installed + "/Contents");
    writeFile(refused.installed + "/Contents/Info.plist", infoPropertyList("org.other"));
    auto failing = refused.window(false, refused.unpacked);
    failing->start(false);
    failing->primaryButton()->click();
    EXPECT_TRUE(settlesIn(*failing, Kind::failed));
    EXPECT_EQ(failing->state().text, "Kavo助手安装包不完整：现有Kavo助手无效");
    EXPECT_FALSE(refused.quit);
}

TEST(HelperWindow, ChromeDisconnectLicencesAndTheFade) {
    Companion companion;
    const QByteArray path = qgetenv("PATH");
    auto window = companion.window(true);
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
    // The card fades in unless the desktop asks for no animations.
    EXPECT_LT(window->statusCardOpacity(), 1.0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->statusCardOpacity() == 1.0; }, 2000));
    auto still = companion.window(false);
    still->start(false);
    EXPECT_EQ(still->statusCardOpacity(), 1.0);

    window->openLicences();
    EXPECT_TRUE(companion.opened.empty());
    const std::string notices =
        companion.installed + "/Contents/Resources/Third-Party Notices.html";
    writeFile(notices, "<html></html>");
    window->openLicences();
    EXPECT_EQ(companion.opened, std::vector<QString>{QString::fromStdString(notices)});
}

TEST(HelperWindowScreenshots, OneOfEachState) {
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "screenshots are taken under Xvfb (the CompanionWindowScreenshots test)";
    Companion companion;
    auto window = companion.window(false);
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
        const QString file =
            QString(BRINDLE_ARTIFACT_DIR) + "/" + QString::fromStdString(name) + ".png";
        EXPECT_TRUE(shot.save(file)) << file.toStdString();
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
