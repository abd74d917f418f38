// The save panel on Qt's display-less platform, with a home folder of the tests' own: its parts
// that need no panel (where it goes, what it makes of the request's texts, the input-source
// session), the built program's start-up failures, and the application in this process with a
// desktop whose answers and clock the test sets (the panel, every way out, activation and the
// numbering).

#include "SavePanelUIHelper/PanelApplicationSetup.h"
#include "SavePanelUIHelper/PanelPlacement.h"
#include "SavePanelUIHelper/SavePanelAppDelegate.h"
#include "SavePanelUIHelper/SavePanelText.h"
#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <thread>
#include <unistd.h>

namespace brindle::testing {
namespace {

using namespace std::chrono_literals;
using enum SmartSavePanelOutcome;

struct TestDesktop : SavePanelDesktop {
    bool active = true; // and so in front
    int activations = 0, terminations = 0;
    std::chrono::milliseconds now{0};
    std::multimap<std::chrono::milliseconds, std::function<void()>> steps;

    bool isActive() const override { return active; }
    bool isShownInFront(const QWidget& /*window*/) const override { return active; }
    void activate(QWidget& /*window*/) override { ++activations; }
    // A small screen, which the panel must fit.
    std::optional<QRect> screenFrameContainingPointer() const override {
        return QRect(0, 0, 800, 600);
    }
    void after(std::chrono::milliseconds delay, QObject* context,
               std::function<void()> step) override {
        steps.emplace(now + delay,
                      [context = QPointer(context), step] { context ? step() : void(); });
    }
    void terminate() override { ++terminations; }

    /// Runs the steps that fall due within `span`, in their order.
    void advance(std::chrono::milliseconds span) {
        const auto end = now + span;
        while (!steps.empty() && steps.begin()->first <= end) {
            auto step = steps.extract(steps.begin());
            now = step.key();
            step.mapped()();
        }
        now = end;
    }
};

// The application launched for a request with a long title, its response file in `root`.
struct Launched {
    explicit Launched(const std::string& directory, bool active = true,
                      SequentialSavePanelDelegate::Resolve resolve = {}) {
        desktop.active = active;
        app = std::make_unique<SavePanelAppDelegate>(
            SmartSavePanelRequest(SmartSavePanelKind::chooseDestination, directory, "photo.png",
                                  "  " + std::string(100, 'T') + " ", "选择文件夹"),
            response, desktop, std::move(resolve));
        app->applicationDidFinishLaunching();
        desktop.advance(0ms);
    }
    QLineEdit& field() const { return *app->window().findChild<QLineEdit*>("saveFilenameField"); }
    std::string answer() const { return exists(response) ? readFile(response) : ""; }

    TemporaryDirectory root;
    std::string response = root.file("t.response.json");
    TestDesktop desktop;
    std::unique_ptr<SavePanelAppDelegate> app;
};

template <class... Fields> std::string encoded(Fields... fields) {
    return SmartSavePanelMessageCodec::encodeResponse(SmartSavePanelResponse(fields...));
}

TEST(PanelPlacement, CentresThePanelInsideTheFreeAreaOfTheScreenUnderThePointer) {
    const std::vector<ScreenArea> screens{{{0, 0, 1920, 1080}, {0, 27, 1920, 1053}},
                                          {{1920, 0, 1280, 1024}, {1920, 0, 1280, 1000}}};
    EXPECT_EQ(visibleFrameContaining({2000, 500}, screens), screens[1].visibleFrame);
    EXPECT_EQ(placedOrigin(screens[1].visibleFrame, {800, 600}), QPoint(2160, 200));
    // Larger than the screen: against its left and top edges.
    EXPECT_EQ(placedOrigin(screens[0].visibleFrame, {2000, 1200}), QPoint(0, 27));
}

TEST(SavePanelText, KeepsTitlesShortAndNamesSingleAndFoldersReal) {
    EXPECT_EQ(bounded("  \n ", "保存文件", 80), "保存文件");
    const std::string chinese = QString(200, u'图').toStdString();
    const std::pair<std::optional<std::string>, std::string> names[] = {
        {" a/b:c ", "a-b-c"},
        {"..", "整页截图.webp"},
        {std::string("x\0y", 3), "x-y"},
        {chinese + ".png", std::string(chinese, 0, 83 * 3) + ".png"},
        {std::string(250, 'a') + ".png", std::string(236, 'a') + ".png"},
    };
    for (const auto& [value, expected] : names)
        EXPECT_EQ(safeFilename(value, "整页截图.webp"), expected) << value.value_or("(none)");

    TemporaryDirectory root;
    std::filesystem::create_directory(root.file("folder"));
    std::filesystem::create_directory_symlink(root.file("folder"), root.file("link"));
    writeFile(root.file("file"), "");
    EXPECT_EQ(safeDirectoryPath(root.file("folder/../folder/")), root.file("folder"));
    for (const std::string& refused :
         {root.file("link"), root.file("file"), std::string("relative"), root.file("missing"),
          "/" + std::string(8192, 'a')})
        EXPECT_EQ(safeDirectoryPath(refused), std::nullopt) << refused;
}

// The built program, for what happens before any window: a "failed" answer where the host can
// read it and nowhere else, one line on standard error, status 1.
TEST(SavePanelStartUp, AnswersABadCommandLineOrRequestWithoutAWindow) {
    TemporaryDirectory root;
    for (const char* folder : {"PanelRequests", "Other", "Foreign/PanelRequests", "Linked"})
        std::filesystem::create_directories(root.file(folder));
    std::filesystem::create_directory_symlink(root.file("PanelRequests"),
                                              root.file("Linked/PanelRequests"));
    ASSERT_EQ(chown(root.file("Foreign/PanelRequests").c_str(), 65534, 65534), 0);
    const std::string request = root.file("PanelRequests/t.request.json");
    const std::string response = root.file("PanelRequests/t.response.json");
    writeFile(root.file("outside"), "keep");
    const std::string invalid = "保存窗口通信路径无效";
    const std::string undecodable = SmartSavePanelDecodingError().what();
    const auto filesIn = [&](const std::string& folder) {
        return std::vector<std::string>{"--request", root.file(folder + "/t.request.json"),
                                        "--response", root.file(folder + "/t.response.json")};
    };
    const struct {
        std::string requestText; // written to the request file ("link": made a link to one); a
                                 // request file with anything in it is answered
        std::string message;     // what standard error starts with
        std::vector<std::string> arguments;
    } rows[] = {
        {"", "保存窗口缺少参数：--request", {"--response", response, "--request"}},
        {"", invalid, {"--request", request, "--response", root.file("Other/t.response.json")}},
        {"", invalid, filesIn("Other")},
        {"", invalid, filesIn("Linked/PanelRequests")},
        {"", invalid, filesIn("Foreign/PanelRequests")},
        {"", invalid, {"--request", request, "--response", root.file("PanelRequests/t.json")}},
        {"link", "无法读取文件“" + request + "”：", filesIn("PanelRequests")},
        {"{", undecodable, {"x", "--response", response, "--request", request}},
        {R"({"kind":"chooseDestination","schemaVersion":2})", "保存窗口请求版本不兼容",
         filesIn("PanelRequests")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments.back());
        std::filesystem::remove(request);
        std::filesystem::remove(response);
        // A response name taken by a link is replaced, never written through.
        std::filesystem::create_symlink(root.file("outside"), response);
        if (row.requestText == "link")
            std::filesystem::create_symlink(root.file("outside"), request);
        else
            writeFile(request, row.requestText);
        const ProcessResult result =
            runProcess(BRINDLE_SAVE_UI_PATH, "", {row.arguments, {}, false});
        EXPECT_EQ(result.exitStatus, 1);
        const std::string said = result.standardError.substr(0, result.standardError.find('\n'));
        EXPECT_TRUE(said.starts_with(row.message) && result.standardError == said + "\n")
            << result.standardError;
        EXPECT_EQ(readFile(response), row.requestText.empty()
                                          ? "keep"
                                          : encoded(failed, std::nullopt, std::nullopt, said));
        EXPECT_EQ(readFile(root.file("outside")), "keep");
    }
    EXPECT_EQ(entries(root.file("Foreign/PanelRequests")), std::vector<std::string>{});
}

TEST(SavePanel, ShowsTheRequestAndAnswersOnceWhicheverWayTheUserLeaves) {
    const std::string home = qgetenv("HOME").toStdString();
    std::filesystem::create_directory_symlink(home, home + "/link");
    const struct {
        std::string typed;  // empty: the numbered name is kept
        std::string button; // of the clash alert; "" for none
        std::string action; // "accept", "cancel", "close", "take" (the numbered name appears
                            // meanwhile), "delete" (the folder goes meanwhile), "link" (accept,
                            // asked to start in a link: the user's Downloads folder is taken;
                            // "linked" the same with Downloads a link to "Saved"),
                            // "folder" (the typed name is the folder "sub", which opens; then
                            // accept)
        std::string chosen; // the name in the answer; "" for cancelled
    } rows[] = {
        {"", "", "accept", "photo (1).png"},
        {"", "", "take", "photo (2).png"},
        {"", "", "link", "photo (1).png"},
        {"", "", "linked", "photo (1).png"},
        {"12/07/2024", "", "accept", "12-07-2024.png"},
        {"taken", "保留两者", "accept", "taken (1).png"},
        {"taken", "替换", "accept", "taken.png"},
        {"taken", "取消", "accept", ""},
        {"sub", "", "folder", "sub/photo.png"},
        {"", "", "cancel", ""},
        {"", "", "close", ""},
        {"", "", "delete", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed + " " + row.button + " " + row.action);
        const std::string folder = home + (row.action == "link"     ? "/Downloads"
                                           : row.action == "linked" ? "/Saved"
                                                                    : "/dest");
        std::filesystem::create_directories(folder + "/sub");
        if (row.action == "linked")
            std::filesystem::create_directory_symlink(folder, home + "/Downloads");
        for (const char* name : {"/photo.png", "/taken.png"})
            writeFile(folder + name, "");
        Launched launched(row.action.starts_with("link") ? home + "/link" : folder);
        QFileDialog* panel = launched.app->panel();
        const auto shows = [&](const char* name) {
            return QTest::qWaitFor([&] { return launched.field().text() == name; });
        };
        ASSERT_TRUE(shows("photo (1)"));
        EXPECT_EQ(launched.app->window().windowTitle(), QString(80, 'T'));
        EXPECT_TRUE(QRect(0, 0, 800, 600).contains(launched.app->window().frameGeometry()));
        for (const auto& [name, text] : {std::pair("savePanelMessageLabel", "选择文件夹"),
                                         std::pair("saveFilenameExtensionLabel", ".png")}) {
            const auto* label = launched.app->window().findChild<QLabel*>(name);
            EXPECT_EQ(std::pair(label->text(), label->textFormat()),
                      std::pair(QString(text), Qt::PlainText));
        }
        // Qt's own texts are in Chinese too.
        EXPECT_EQ(panel->findChild<QLabel*>("lookInLabel")->text().toStdString(), "查找范围：");
        // Typed over the whole name, which stays selected while it is numbered.
        QTest::keyClicks(&launched.field(), QString::fromStdString(row.typed));
        if (row.action == "take")
            writeFile(folder + "/photo (1).png", "");
        if (row.action == "delete")
            std::filesystem::remove_all(folder);
        if (row.action == "folder") {
            static_cast<QDialog*>(panel)->accept();
            ASSERT_TRUE(shows("photo"));
            EXPECT_EQ(panel->directory().absolutePath().toStdString(), folder + "/sub");
        }
        if (row.action == "cancel")
            panel->reject();
        else if (row.action == "close")
            launched.app->window().close();
        else
            static_cast<QDialog*>(panel)->accept();
        if (auto* alert = launched.app->window().findChild<QMessageBox*>("saveClashAlert")) {
            EXPECT_EQ(std::pair(alert->text(), alert->textFormat()),
                      std::pair(QString("“taken.png”已存在"), Qt::PlainText));
            for (QAbstractButton* button : alert->buttons())
                if (button->text() == QString::fromStdString(row.button))
                    button->click();
        }
        EXPECT_EQ(launched.answer(),
                  row.chosen.empty() ? encoded(cancelled)
                                     : encoded(selected, folder + "/" + row.chosen, std::nullopt,
                                               std::nullopt, row.button == "替换"));
        // Nothing after the first answer writes again, the watchdog included.
        std::filesystem::remove(launched.response);
        launched.app->finish(SmartSavePanelResponse(failed));
        launched.desktop.advance(10s);
        EXPECT_FALSE(exists(launched.response));
        EXPECT_EQ(launched.desktop.terminations, 1);
        std::filesystem::remove_all(folder);
        std::filesystem::remove(home + "/Downloads");
    }
    EXPECT_FALSE(exists(home + "/.config/QtProject.conf"));
}

// A desktop that will not give the window the focus still gets the panel itself, never an empty
// frame; it is brought forward for as long as it stays behind.
TEST(SavePanel, ShowsThePanelAtOnceAndKeepsBringingItForward) {
    TemporaryDirectory folder;
    Launched never(folder.path(), false);
    EXPECT_NE(never.app->panel(), nullptr);
    never.desktop.advance(10s);
    EXPECT_GE(never.desktop.activations, 20); // the panel's 20 checks, after the window's own
    EXPECT_EQ(never.answer(), "");
}

TEST(SequentialSavePanelDelegate, AppliesOnlyTheNewestResultForTheFolderOnShowAndTheTypedName) {
    TemporaryDirectory root;
    for (const std::string name : {"a/photo.png", "b/mine.png", "c/mine.png", "c/mine (1).png"}) {
        std::filesystem::create_directories(root.file(name.substr(0, 1)));
        writeFile(root.file(name), "");
    }
    std::atomic<int> started = 0, finished = 0;
    const auto slowly = [&](const std::string& seed, const std::string& directory) {
        ++started;
        std::this_thread::sleep_for(150ms);
        auto name = SequentialSavePanelDelegate::resolveInFolder(seed, directory);
        ++finished;
        return name;
    };
    Launched launched(root.file("a"), true, slowly);
    // Once `count` resolutions have run, and their results have arrived.
    const auto settle = [&](int count) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return started == count && finished == count; }));
        QTest::qWait(100);
        return launched.field().text().toStdString();
    };
    const auto enter = [&](const char* folder) {
        launched.app->panel()->setDirectory(QString::fromStdString(root.file(folder)));
    };
    // Typed while "photo (1)" is being worked out: the typing wins. Late results are what is
    // checked, not ones dropped before they started.
    EXPECT_TRUE(QTest::qWaitFor([&] { return started == 1; }));
    QTest::keyClicks(&launched.field(), "mine");
    EXPECT_EQ(settle(1), "mine");
    // The typed name is what a new folder numbers.
    enter("b");
    EXPECT_EQ(settle(2), "mine (1)");
    // Two folders in quick succession: only the second counts.
    enter("c");
    EXPECT_TRUE(QTest::qWaitFor([&] { return started == 3; }));
    enter("a");
    EXPECT_EQ(settle(4), "mine");
    // Back (and Forward) reach the folder without the panel's own signal.
    launched.app->panel()->findChild<QAbstractButton*>("backButton")->click();
    EXPECT_EQ(settle(5), "mine (2)");
}

} // namespace
} // namespace brindle::testing

int main(int argc, char* argv[]) {
    const brindle::testing::TemporaryDirectory home;
    qputenv("HOME", QByteArray::fromStdString(home.path()));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    brindle::keepUserSettingsUnwritten();
    QApplication application(argc, argv);
    brindle::installPanelTranslations();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
