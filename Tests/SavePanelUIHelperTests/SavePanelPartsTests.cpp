// The save panel's parts that need no panel: where it goes, what it makes of the request's
// texts, the start-up failures of the built program, the input-source session and the menu.

#include "AppKitUIUtilities/RomanInputSourceSession.h"
#include "AppKitUIUtilities/StandardApplicationMenu.h"
#include "SavePanelUIHelper/PanelPlacement.h"
#include "SavePanelUIHelper/SavePanelText.h"
#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace brindle::testing {
namespace {

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
    EXPECT_EQ(bounded(std::string(100, 'x'), "保存文件", 80), std::string(80, 'x'));
    EXPECT_EQ(bounded("  \n ", "保存文件", 80), "保存文件");
    EXPECT_EQ(bounded(std::nullopt, "请选择保存位置。", 240), "请选择保存位置。");
    std::string chinese;
    for (int index = 0; index < 200; ++index)
        chinese += "图";
    const std::pair<std::optional<std::string>, std::string> names[] = {
        {" a/b:c ", "a-b-c"},
        {"//", "整页截图.webp"},
        {"..", "整页截图.webp"},
        {std::string("x\0y", 3), "x-y"},
        {std::nullopt, "整页截图.webp"},
        {chinese + ".png", std::string(chinese, 0, 83 * 3) + ".png"},
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
    const std::string exchange = root.file("PanelRequests");
    std::filesystem::create_directory(exchange);
    std::filesystem::create_directory(root.file("Other"));
    std::filesystem::create_directory_symlink(exchange, root.file("Linked"));
    std::filesystem::create_directory(root.file("Foreign"));
    std::filesystem::create_directory(root.file("Foreign/PanelRequests"));
    ASSERT_EQ(chown(root.file("Foreign/PanelRequests").c_str(), 65534, 65534), 0);
    const std::string request = exchange + "/t.request.json";
    const std::string response = exchange + "/t.response.json";
    writeFile(root.file("outside"), "keep");
    const auto failed = [](const std::string& message) {
        return R"({"error":")" + message + R"(","outcome":"failed","schemaVersion":1})";
    };
    const struct {
        std::vector<std::string> arguments;
        std::string requestText; // written to the request file; "link" makes it a link to one
        std::string message;
        bool answered;
    } rows[] = {
        {{"--response", response, "--request"}, "", "保存窗口缺少参数：--request", false},
        {{"--request", request}, "", "保存窗口缺少参数：--response", false},
        {{"--request", request, "--response", root.file("Other/t.response.json")},
         "",
         "保存窗口通信路径无效",
         false},
        {{"--request", root.file("Linked/t.request.json"), "--response",
          root.file("Linked/t.response.json")},
         "",
         "保存窗口通信路径无效",
         false},
        {{"--request", root.file("Foreign/PanelRequests/t.request.json"), "--response",
          root.file("Foreign/PanelRequests/t.response.json")},
         "",
         "保存窗口通信路径无效",
         false},
        {{"--request", request, "--response", exchange + "/t.json"},
         "",
         "保存窗口通信路径无效",
         false},
        {{"x", "--response", response, "--request", request},
         "{",
         "未能读取数据，因为它的格式不正确。",
         true},
        {{"--request", request, "--response", response},
         R"({"kind":"chooseDestination","schemaVersion":2})",
         "保存窗口请求版本不兼容",
         true},
        {{"--request", request, "--response", response}, "link", "", true},
    };
    for (const auto& row : rows) {
        std::filesystem::remove(request);
        std::filesystem::remove(response);
        // A response name taken by a link is replaced, never written through.
        std::filesystem::create_symlink(root.file("outside"), response);
        if (row.requestText == "link")
            std::filesystem::create_symlink(root.file("outside"), request);
        else
            writeFile(request, row.requestText);
        ProcessOptions options;
        options.arguments = row.arguments;
        const ProcessResult result = runProcess(BRINDLE_SAVE_UI_PATH, "", options);
        EXPECT_EQ(result.exitStatus, 1);
        if (!row.message.empty()) {
            EXPECT_EQ(result.standardError, row.message + "\n");
        }
        EXPECT_EQ(statusOf(response).st_mode & S_IFMT, row.answered ? S_IFREG : S_IFLNK);
        if (row.answered) { // with the system's own message for the link
            EXPECT_TRUE(readFile(response).ends_with(failed("").substr(11))) << readFile(response);
        }
        if (row.answered && !row.message.empty()) {
            EXPECT_EQ(readFile(response), failed(row.message));
        }
        EXPECT_EQ(readFile(root.file("outside")), "keep");
    }
    EXPECT_EQ(entries(root.file("Foreign/PanelRequests")), std::vector<std::string>{});

    // No display to show a panel on: Qt ends the program, and the host still hears of it.
    std::filesystem::remove(request);
    std::filesystem::remove(response);
    writeFile(request, R"({"kind":"chooseDestination","schemaVersion":1})");
    ProcessOptions noDisplay;
    noDisplay.arguments = {"--request", request, "--response", response};
    noDisplay.environment = {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":1999"}};
    EXPECT_NE(runProcess(BRINDLE_SAVE_UI_PATH, "", noDisplay).exitStatus, 0);
    EXPECT_EQ(exists(response) ? readFile(response) : "",
              R"({"outcome":"failed","schemaVersion":1})");
}

TEST(RomanInputSourceSession, SwitchesBackOnlyWhatItSwitchedAndOnlyWhenThatWorked) {
    EXPECT_EQ(RomanInputSourceSession::make("com.apple.keylayout.ABC"), nullptr); // none on Linux
    std::string log;
    bool works = true;
    RomanInputSourceSession session(
        [&] {
            log += 'R';
            return works;
        },
        [&] {
            log += 'O';
            return works;
        });
    session.restoreOriginal(); // never switched: the user's source is left alone
    works = false;
    session.selectRoman(); // failed: nothing owed
    session.restoreOriginal();
    works = true;
    session.selectRoman();
    session.selectRoman();
    session.restoreOriginal();
    session.restoreOriginal();
    EXPECT_EQ(log, "RRRO");
    EXPECT_FALSE(session.isRomanSelected());
}

TEST(StandardApplicationMenu, OffersQuitAndTheEditingCommands) {
    const auto bar = StandardApplicationMenu::make("Kavo");
    ASSERT_EQ(bar->actions().size(), 2);
    QStringList items;
    for (const QAction* top : bar->actions()) {
        items << top->text();
        for (const QAction* item : top->menu()->actions())
            items << (item->isSeparator() ? "-"
                                          : item->text() + " " + item->objectName() + " " +
                                                item->shortcut().toString());
    }
    EXPECT_EQ(items.join(" | ").toStdString(),
              "Kavo | 退出 Kavo terminate: Ctrl+Q | 编辑 | 撤销 undo: Ctrl+Z | "
              "重做 redo: Ctrl+Shift+Z | - | 剪切 cut: Ctrl+X | 复制 copy: Ctrl+C | "
              "粘贴 paste: Ctrl+V | - | 全选 selectAll: Ctrl+A");
}

} // namespace
} // namespace brindle::testing
