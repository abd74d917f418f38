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
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <thread>
#include <unistd.h>

namespace brindle::testing {
namespace {

using namespace std::chrono_literals;

class TestDesktop : public SavePanelDesktop {
public:
    bool active = true, front = true;
    std::optional<QRect> pointerFrame;
    int activations = 0, terminations = 0;

    bool isActive() const override { return active; }
    bool isShownInFront(const QWidget& /*window*/) const override { return front; }
    void activate(QWidget& /*window*/) override { ++activations; }
    std::optional<QRect> screenFrameContainingPointer() const override { return pointerFrame; }
    void after(std::chrono::milliseconds delay, QObject* context,
               std::function<void()> step) override {
        steps_.emplace(now_ + delay, std::pair(QPointer<QObject>(context), std::move(step)));
    }
    void terminate() override { ++terminations; }

    /// Runs the steps that fall due within `span`, in their order.
    void advance(std::chrono::milliseconds span) {
        const auto end = now_ + span;
        while (!steps_.empty() && steps_.begin()->first <= end) {
            auto step = steps_.extract(steps_.begin());
            now_ = step.key();
            if (step.mapped().first)
                step.mapped().second();
        }
        now_ = end;
    }

private:
    std::chrono::milliseconds now_{0};
    std::multimap<std::chrono::milliseconds, std::pair<QPointer<QObject>, std::function<void()>>>
        steps_;
};

// The application launched for a request with a long title, its exchange folder in `root`.
struct Launched {
    explicit Launched(const std::string& directory, bool active = true,
                      SequentialSavePanelDelegate::Resolve resolve = {},
                      std::optional<QRect> screen = std::nullopt)
        : response(root.file("PanelRequests/t.response.json")) {
        std::filesystem::create_directory(root.file("PanelRequests"));
        desktop.active = active;
        desktop.pointerFrame = screen;
        app = std::make_unique<SavePanelAppDelegate>(
            SmartSavePanelRequest(SmartSavePanelKind::chooseDestination, directory, "photo.png",
                                  "  " + std::string(100, 'T') + " ", "选择文件夹"),
            response, desktop, std::move(resolve));
        app->applicationDidFinishLaunching();
        desktop.advance(0ms);
    }
    QLineEdit& field() const { return *app->window().findChild<QLineEdit*>("saveFilenameField"); }
    QString label(const char* name) const { return app->window().findChild<QLabel*>(name)->text(); }
    std::string answer() const { return exists(response) ? readFile(response) : ""; }

    TemporaryDirectory root;
    std::string response;
    TestDesktop desktop;
    std::unique_ptr<SavePanelAppDelegate> app;
};

std::string encoded(SmartSavePanelOutcome outcome, std::optional<std::string> path = {},
                    std::optional<std::string> error = {},
                    std::optional<bool> replaceApproved = {}) {
    return SmartSavePanelMessageCodec::encodeResponse(SmartSavePanelResponse(
        outcome, std::move(path), std::nullopt, std::move(error), replaceApproved));
}

TEST(PanelPlacement, CentresThePanelInsideTheFreeAreaOfTheScreenUnderThePointer) {
    const ScreenArea laptop{{0, 0, 1920, 1080}, {0, 27, 1920, 1053}};
    const ScreenArea second{{1920, 0, 1280, 1024}, {1920, 0, 1280, 1000}};
    const struct {
        std::vector<ScreenArea> screens;
        QPoint pointer;
        QSize panel;
        std::optional<QPoint> origin;
    } rows[] = {
        {{laptop}, {100, 100}, {800, 600}, QPoint(560, 253)},
        {{laptop, second}, {2000, 500}, {800, 600}, QPoint(2160, 200)},
        {{laptop}, {0, 0}, {2000, 1200}, QPoint(0, 27)}, // larger: left and top edges
        {{laptop, second}, {3200, 10}, {800, 600}, std::nullopt},
    };
    for (const auto& row : rows) {
        const auto frame = visibleFrameContaining(row.pointer, row.screens);
        EXPECT_EQ(frame ? std::optional(placedOrigin(*frame, row.panel)) : std::nullopt,
                  row.origin);
    }
}

TEST(SavePanelText, KeepsTitlesShortAndNamesSingleAndFoldersReal) {
    EXPECT_EQ(bounded("  \n ", "保存文件", 80), "保存文件");
    EXPECT_EQ(bounded(std::nullopt, "请选择保存位置。", 240), "请选择保存位置。");
    const std::string chinese = QString(200, u'图').toStdString();
    const std::pair<std::optional<std::string>, std::string> names[] = {
        {" a/b:c ", "a-b-c"},
        {"//", "整页截图.webp"},
        {"..", "整页截图.webp"},
        {std::string("x\0y", 3), "x-y"},
        {chinese + ".png", std::string(chinese, 0, 83 * 3) + ".png"},
        {std::string(250, 'a') + ".png", std::string(236, 'a') + ".png"},
        {std::string(300, 'a') + ".jpeg", std::string(235, 'a') + ".jpeg"},
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
    const std::string elsewhere = root.file("Other/t.response.json");
    const std::string misnamed = root.file("PanelRequests/t.json");
    const std::string invalid = "保存窗口通信路径无效";
    const std::string undecodable = SmartSavePanelDecodingError().what();
    const auto filesIn = [&](const std::string& folder) {
        return std::vector<std::string>{"--request", root.file(folder + "/t.request.json"),
                                        "--response", root.file(folder + "/t.response.json")};
    };
    const struct {
        std::string requestText; // written to the request file; "link" makes it a link to one
        std::string message;     // what standard error starts with
        bool answered;
        std::vector<std::string> arguments;
    } rows[] = {
        {"", "保存窗口缺少参数：--request", false, {"--response", response, "--request"}},
        {"", "保存窗口缺少参数：--response", false, {"--request", request}},
        {"", invalid, false, {"--request", request, "--response", elsewhere}},
        {"", invalid, false, filesIn("Other")},
        {"", invalid, false, filesIn("Linked/PanelRequests")},
        {"", invalid, false, filesIn("Foreign/PanelRequests")},
        {"", invalid, false, {"--request", request, "--response", misnamed}},
        {"{", undecodable, true, {"x", "--response", response, "--request", request}},
        {R"({"kind":"chooseDestination","schemaVersion":2})", "保存窗口请求版本不兼容", true,
         filesIn("PanelRequests")},
        {"link", "无法读取文件“" + request + "”：", true, filesIn("PanelRequests")},
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
        EXPECT_EQ(statusOf(response).st_mode & S_IFMT, row.answered ? S_IFREG : S_IFLNK);
        EXPECT_EQ(readFile(response),
                  row.answered ? encoded(SmartSavePanelOutcome::failed, {}, said) : "keep");
        EXPECT_EQ(readFile(root.file("outside")), "keep");
    }
    EXPECT_EQ(entries(root.file("Foreign/PanelRequests")), std::vector<std::string>{});

    // No display to show a panel on: Qt ends the program, and the host still hears of it.
    std::filesystem::remove(request);
    std::filesystem::remove(response);
    writeFile(request, R"({"kind":"chooseDestination","schemaVersion":1})");
    const ProcessOptions noDisplay{
        filesIn("PanelRequests"), {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":1999"}}, false};
    EXPECT_NE(runProcess(BRINDLE_SAVE_UI_PATH, "", noDisplay).exitStatus, 0);
    EXPECT_EQ(exists(response) ? readFile(response) : "", encoded(SmartSavePanelOutcome::failed));
}

TEST(RomanInputSourceSession, SwitchesBackOnlyWhatItSwitchedAndOnlyWhenThatWorked) {
    std::string log;
    bool works = false;
    // An action that is logged, and works when `works` says so.
    const auto action = [&](char letter) { return [&, letter] { return (log += letter, works); }; };
    RomanInputSourceSession session(action('R'), action('O'));
    session.restoreOriginal(); // never switched: the user's source is left alone
    session.selectRoman();     // failed: nothing owed
    session.restoreOriginal();
    works = true;
    session.selectRoman();
    session.selectRoman();
    session.restoreOriginal();
    session.restoreOriginal();
    EXPECT_EQ(log, "RRRO");
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
                            // "back" (into "sub" and back first), "folder" (the typed name is
                            // the folder "sub", which opens; then accept)
        std::string chosen; // the name in the answer; "" for cancelled
    } rows[] = {
        {"", "", "accept", "photo (1).png"},
        {"", "", "take", "photo (2).png"},
        {"", "", "link", "photo (1).png"},
        {"", "", "linked", "photo (1).png"},
        {"report", "", "accept", "report.png"},
        {"12/07/2024", "", "accept", "12-07-2024.png"},
        {std::string(250, 'a'), "", "accept", std::string(236, 'a') + ".png"},
        {"taken", "保留两者", "accept", "taken (1).png"},
        {"taken", "替换", "accept", "taken.png"},
        {"taken", "取消", "accept", ""},
        {"", "", "back", "photo (1).png"},
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
        writeFile(folder + "/photo.png", "");
        writeFile(folder + "/taken.png", "");
        writeFile(folder + "/" + std::string(40, 'n') + ".png", "");
        Launched launched(row.action.starts_with("link") ? home + "/link" : folder, true, {},
                          QRect(0, 0, 800, 600));
        QFileDialog* panel = launched.app->panel();
        ASSERT_NE(panel, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return launched.field().text() == "photo (1)"; }));
        EXPECT_EQ(launched.app->window().windowTitle(), QString(80, 'T'));
        EXPECT_EQ(launched.label("savePanelMessageLabel"), "选择文件夹");
        EXPECT_EQ(launched.label("saveFilenameExtensionLabel"), ".png");
        // A small screen: the window fits it, and the names fill the rows.
        EXPECT_TRUE(QRect(0, 0, 800, 600).contains(launched.app->window().frameGeometry()));
        const auto* details = panel->findChild<QTreeView*>("treeView");
        const QString longest = QString(40, 'n') + ".png";
        EXPECT_GT(details->header()->sectionSize(0),
                  details->fontMetrics().horizontalAdvance(longest) + details->iconSize().width());
        EXPECT_EQ(details->header()->length(), details->viewport()->width());
        EXPECT_EQ(panel->findChild<QLabel*>("lookInLabel")->text().toStdString(), "查找范围：");
        for (const QLabel* label : launched.app->window().findChildren<QLabel*>(
                 QRegularExpression("savePanelMessageLabel|saveFilenameExtensionLabel")))
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        // Typed over the whole name, which stays selected while it is numbered.
        QTest::keyClicks(&launched.field(), QString::fromStdString(row.typed));
        if (row.action == "take")
            writeFile(folder + "/photo (1).png", "");
        if (row.action == "delete")
            std::filesystem::remove_all(folder);
        if (row.action == "back") {
            panel->setDirectory(QString::fromStdString(folder + "/sub"));
            ASSERT_TRUE(QTest::qWaitFor([&] { return launched.field().text() == "photo"; }));
            panel->findChild<QAbstractButton*>("backButton")->click();
            ASSERT_TRUE(QTest::qWaitFor([&] { return launched.field().text() == "photo (1)"; }));
        }
        if (row.action == "folder") {
            static_cast<QDialog*>(panel)->accept();
            ASSERT_TRUE(QTest::qWaitFor([&] { return launched.field().text() == "photo"; }));
            EXPECT_EQ(panel->directory().absolutePath().toStdString(), folder + "/sub");
        }
        if (row.action == "cancel")
            panel->reject();
        else if (row.action == "close")
            launched.app->window().close();
        else
            static_cast<QDialog*>(panel)->accept();
        if (auto* alert = launched.app->window().findChild<QMessageBox*>("saveClashAlert")) {
            EXPECT_EQ(alert->text(), "“taken.png”已存在");
            EXPECT_EQ(alert->textFormat(), Qt::PlainText);
            for (QAbstractButton* button : alert->buttons())
                if (button->text() == QString::fromStdString(row.button))
                    button->click();
        }
        EXPECT_EQ(launched.answer(), row.chosen.empty() ? encoded(SmartSavePanelOutcome::cancelled)
                                                        : encoded(SmartSavePanelOutcome::selected,
                                                                  folder + "/" + row.chosen, {},
                                                                  row.button == "替换"));
        // Nothing after the first answer writes again, the watchdog included.
        std::filesystem::remove(launched.response);
        launched.app->finish(SmartSavePanelResponse(SmartSavePanelOutcome::failed));
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
    never.desktop.front = false;
    never.desktop.advance(10s);
    EXPECT_GE(never.desktop.activations, 20); // the panel's 20 checks, after the window's own
    EXPECT_EQ(never.answer(), "");

    Launched late(folder.path(), false);
    late.desktop.pointerFrame = QRect(1000, 0, 1600, 1200);
    late.desktop.advance(1s);
    late.desktop.active = true;
    late.app->applicationDidBecomeActive();
    // The host's request brings it to the screen under the pointer.
    late.app->handleSavePanelActivationRequest();
    EXPECT_EQ(late.app->window().pos(),
              placedOrigin(*late.desktop.pointerFrame, late.app->window().frameGeometry().size()));
}

TEST(SequentialSavePanelDelegate, AppliesOnlyTheNewestResultForTheFolderOnShowAndTheTypedName) {
    TemporaryDirectory root;
    for (const char* folder : {"a", "b", "c"})
        std::filesystem::create_directory(root.file(folder));
    for (const char* name : {"a/photo.png", "b/mine.png", "c/mine.png", "c/mine (1).png"})
        writeFile(root.file(name), "");
    std::atomic<int> started = 0, finished = 0;
    const auto slowly = [&](const std::string& seed, const std::string& directory) {
        ++started;
        std::this_thread::sleep_for(150ms);
        auto name = SequentialSavePanelDelegate::resolveInFolder(seed, directory);
        ++finished;
        return name;
    };
    Launched launched(root.file("a"), true, slowly);
    QFileDialog& panel = *launched.app->panel();
    // Once `count` resolutions have run, and their results have arrived.
    const auto settle = [&](int count) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return started == count && finished == count; }));
        QTest::qWait(100);
        return launched.field().text().toStdString();
    };
    const auto enter = [&](const char* folder) {
        panel.setDirectory(QString::fromStdString(root.file(folder)));
    };
    // Typed while "photo (1)" is being worked out: the typing wins. Late results are what is
    // checked, not ones dropped before they started.
    EXPECT_TRUE(QTest::qWaitFor([&] { return started == 1; }));
    QTest::keyClicks(&launched.field(), "mine");
    EXPECT_EQ(settle(1), "mine");
    // The typed name is what a new folder numbers.
    enter("b");
    EXPECT_EQ(settle(2), "mine (1)");
    EXPECT_TRUE(launched.app->filenameDelegate()->isAutomaticallyManaged());
    // Two folders in quick succession: only the second counts.
    enter("c");
    EXPECT_TRUE(QTest::qWaitFor([&] { return started == 3; }));
    enter("a");
    EXPECT_EQ(settle(4), "mine");
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
