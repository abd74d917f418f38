// The save-panel application in this process on Qt's offscreen platform, with a desktop whose
// answers and clock the test sets: the panel, every way out, activation and the numbering.

#include "SavePanelUIHelper/PanelPlacement.h"
#include "SavePanelUIHelper/SavePanelAppDelegate.h"
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

namespace brindle::testing {
namespace {

using namespace std::chrono_literals;

class TestDesktop : public SavePanelDesktop {
public:
    bool active = true;
    bool front = true;
    std::optional<QRect> pointerFrame;
    int activations = 0;
    int terminations = 0;

    bool isActive() const override { return active; }
    bool isShownInFront(const QWidget& /*window*/) const override { return front; }
    void activate(QWidget& window) override {
        ++activations;
        window.show();
    }
    std::optional<QRect> screenFrameContainingPointer() const override { return pointerFrame; }
    std::optional<QRect> screenFrameOf(const QWidget& /*window*/) const override {
        return QRect(0, 0, 1000, 800);
    }
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

// Processes events until `done` holds (or 5 s have passed).
template <class Condition> bool waitFor(const Condition& done) {
    for (int round = 0; round < 500 && !done(); ++round) {
        QApplication::processEvents();
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

struct Launched {
    explicit Launched(const std::string& directory, bool active = true,
                      SequentialSavePanelDelegate::Resolve resolve = {},
                      std::optional<std::string> title = std::nullopt)
        : response(root.file("PanelRequests/t.response.json")) {
        std::filesystem::create_directory(root.file("PanelRequests"));
        desktop.active = active;
        app = std::make_unique<SavePanelAppDelegate>(
            SmartSavePanelRequest(SmartSavePanelKind::chooseDestination, directory, "photo.png",
                                  std::move(title), "选择文件夹"),
            response, desktop, std::move(resolve));
        app->applicationDidFinishLaunching();
        desktop.advance(0ms);
    }
    QLineEdit& field() const { return *app->window().findChild<QLineEdit*>("saveFilenameField"); }
    std::string answer() const { return exists(response) ? readFile(response) : ""; }

    TemporaryDirectory root;
    std::string response;
    TestDesktop desktop;
    std::unique_ptr<SavePanelAppDelegate> app;
};

std::string encoded(SmartSavePanelOutcome outcome, std::optional<std::string> path = {},
                    std::optional<std::string> error = {}) {
    return SmartSavePanelMessageCodec::encodeResponse(
        SmartSavePanelResponse(outcome, std::move(path), std::nullopt, std::move(error)));
}

TEST(SavePanel, ShowsTheRequestAndAnswersOnceWhicheverWayTheUserLeaves) {
    TemporaryDirectory folders;
    const std::string folder = folders.file("dest");
    const auto selected = [&](const std::string& name) {
        return encoded(SmartSavePanelOutcome::selected, folder + "/" + name);
    };
    const std::string cancelled = encoded(SmartSavePanelOutcome::cancelled);
    const struct {
        std::string typed;  // empty: the numbered name is kept
        std::string button; // of the clash alert; "" for none
        std::string action; // "accept", "cancel", "close", "take" (the numbered name appears
                            // meanwhile), "delete" (the folder goes meanwhile)
        std::string expected;
    } rows[] = {
        {"", "", "accept", selected("photo (1).png")},
        {"", "", "take", selected("photo (2).png")},
        {"report", "", "accept", selected("report.png")},
        {"taken", "保留两者", "accept", selected("taken (1).png")},
        {"taken", "替换", "accept", selected("taken.png")},
        {"taken", "取消", "accept", cancelled},
        {"", "", "cancel", cancelled},
        {"", "", "close", cancelled},
        {"", "", "delete", cancelled},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed + " " + row.button + " " + row.action);
        std::filesystem::create_directory(folder);
        writeFile(folder + "/photo.png", "");
        writeFile(folder + "/taken.png", "");
        Launched launched(folder, true, {}, "  " + std::string(100, 'T') + " ");
        QFileDialog* panel = launched.app->panel();
        ASSERT_NE(panel, nullptr);
        ASSERT_TRUE(waitFor([&] { return launched.field().text() == "photo (1)"; }));
        EXPECT_EQ(launched.app->window().windowTitle(), QString(80, 'T'));
        EXPECT_EQ(launched.app->window().findChild<QLabel*>("savePanelMessageLabel")->text(),
                  "选择文件夹");
        EXPECT_EQ(launched.app->window().findChild<QLabel*>("saveFilenameExtensionLabel")->text(),
                  ".png");
        EXPECT_EQ(panel->labelText(QFileDialog::Accept), "保存");
        EXPECT_EQ(panel->fileMode(), QFileDialog::Directory);
        EXPECT_EQ(panel->directory().absolutePath().toStdString(), folder);

        if (!row.typed.empty()) {
            launched.field().selectAll();
            QTest::keyClicks(&launched.field(), QString::fromStdString(row.typed));
        }
        if (row.action == "take")
            writeFile(folder + "/photo (1).png", "");
        if (row.action == "delete")
            std::filesystem::remove_all(folder);
        if (row.action == "cancel")
            panel->reject();
        else if (row.action == "close")
            launched.app->window().close();
        else
            static_cast<QDialog*>(panel)->accept();
        if (!row.button.empty()) {
            auto* alert = launched.app->window().findChild<QMessageBox*>("saveClashAlert");
            ASSERT_NE(alert, nullptr);
            EXPECT_EQ(alert->text(), "“taken.png”已存在");
            for (QAbstractButton* button : alert->buttons()) {
                if (button->text().toStdString() == row.button)
                    button->click();
            }
        }
        EXPECT_EQ(launched.answer(), row.expected);
        // Nothing after the first answer writes again, the watchdog included.
        std::filesystem::remove(launched.response);
        launched.app->finish(SmartSavePanelResponse(SmartSavePanelOutcome::failed));
        launched.desktop.advance(10s);
        EXPECT_FALSE(exists(launched.response));
        EXPECT_EQ(launched.desktop.terminations, 1);
        std::filesystem::remove_all(folder);
    }

    // A starting folder given as a link is not taken; the user's Downloads folder is.
    TemporaryDirectory home;
    std::filesystem::create_directory(home.file("Downloads"));
    std::filesystem::create_directory_symlink(home.file("Downloads"), home.file("link"));
    const QByteArray realHome = qgetenv("HOME");
    qputenv("HOME", QByteArray::fromStdString(home.path()));
    Launched linked(home.file("link"));
    qputenv("HOME", realHome);
    EXPECT_EQ(linked.app->panel()->directory().absolutePath().toStdString(),
              home.file("Downloads"));
}

TEST(SavePanel, ComesForwardBeforeItPresentsAndAnswersWhenItNeverCan) {
    TemporaryDirectory folder;
    Launched never(folder.path(), false);
    never.desktop.advance(7999ms);
    EXPECT_EQ(never.desktop.activations, 24);
    EXPECT_EQ(never.answer(), "");
    never.desktop.advance(1ms);
    EXPECT_EQ(never.answer(), encoded(SmartSavePanelOutcome::failed, std::nullopt,
                                      "Chrome 没能激活保存窗口，请重试"));
    EXPECT_EQ(never.app->panel(), nullptr);

    Launched late(folder.path(), false);
    late.desktop.pointerFrame = QRect(1000, 0, 1600, 1200);
    late.desktop.advance(1s);
    EXPECT_EQ(late.app->panel(), nullptr);
    late.desktop.active = true;
    late.desktop.front = false; // and it stays behind: 20 checks bring it forward again
    late.app->applicationDidBecomeActive();
    late.desktop.advance(0ms);
    ASSERT_NE(late.app->panel(), nullptr);
    const int activations = late.desktop.activations;
    late.desktop.advance(20s);
    EXPECT_EQ(late.desktop.activations - activations, 20);
    EXPECT_EQ(late.answer(), "");
    // The host's request brings it to the screen under the pointer.
    late.app->handleSavePanelActivationRequest();
    EXPECT_EQ(late.app->window().pos(),
              placedOrigin(*late.desktop.pointerFrame, late.app->window().frameGeometry().size()));
}

TEST(SequentialSavePanelDelegate, AppliesOnlyTheNewestResultForTheFolderOnShowAndTheTypedName) {
    TemporaryDirectory root;
    for (const char* name : {"a/photo.png", "b/mine.png", "c/mine.png", "c/mine (1).png"}) {
        std::filesystem::create_directories(std::filesystem::path(root.file(name)).parent_path());
        writeFile(root.file(name), "");
    }
    std::atomic<int> started = 0;
    std::atomic<int> finished = 0;
    const auto slowly = [&](const std::string& seed, const std::string& directory) {
        ++started;
        std::this_thread::sleep_for(150ms);
        auto name = SequentialSavePanelDelegate::resolveInFolder(seed, directory);
        ++finished;
        return name;
    };
    // Late results are what is checked, not ones dropped before they started.
    const auto begun = [&](int count) { EXPECT_TRUE(waitFor([&] { return started == count; })); };
    Launched launched(root.file("a"), true, slowly);
    QFileDialog& panel = *launched.app->panel();
    const SequentialSavePanelDelegate& delegate = *launched.app->filenameDelegate();
    // Once `count` resolutions have run, and their results have arrived.
    const auto settle = [&](int count) {
        EXPECT_TRUE(waitFor([&] { return started == count && finished == count; }));
        for (int round = 0; round < 10; ++round) {
            QApplication::processEvents();
            std::this_thread::sleep_for(10ms);
        }
        return launched.field().text().toStdString();
    };
    const auto enter = [&](const char* folder, bool announced = true) {
        panel.setDirectory(QString::fromStdString(root.file(folder)));
        if (announced)
            emit panel.directoryEntered(QString::fromStdString(root.file(folder)));
    };
    // Typed while "photo (1)" is being worked out: the typing wins.
    begun(1);
    QTest::keyClicks(&launched.field(), "mine");
    EXPECT_EQ(settle(1), "mine");
    EXPECT_FALSE(delegate.isAutomaticallyManaged());
    EXPECT_EQ(delegate.seedFilename(), "mine.png");
    // The typed name is what a new folder numbers.
    enter("b");
    EXPECT_EQ(settle(2), "mine (1)");
    EXPECT_TRUE(delegate.isAutomaticallyManaged());
    // Two folders in quick succession: only the second counts.
    enter("c");
    begun(3);
    enter("a");
    EXPECT_EQ(settle(4), "mine");
    // A result for a folder no longer on show is dropped.
    enter("b");
    enter("c", false);
    EXPECT_EQ(settle(5), "mine");
    EXPECT_EQ(delegate.lastAutomaticallyAppliedFilename(), "mine.png");
}

} // namespace
} // namespace brindle::testing
