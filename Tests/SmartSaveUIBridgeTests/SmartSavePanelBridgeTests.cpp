// One exchange with a stand-in save panel: a shell script in a bundle that writes scripted
// responses, standard error and exit codes.

#include "SmartSaveUIBridge/SmartSavePanelBridge.h"
#include "Support/SavePanelStandIn.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

const std::string invalid = "智能保存窗口返回了无效结果";
const std::string missing = "智能保存窗口未返回选择结果";
const std::string notInstalled = "智能保存窗口组件未正确安装，请重新运行安装脚本";
const std::string invalidData = "智能保存的面板通信目录无效";
const std::string launchFailed = "无法启动智能保存窗口：";

// A data folder and a bundle whose program runs whatever `script` holds at the time.
struct Exchange {
    TemporaryDirectory root;
    std::string data = root.file("SavePanel");
    std::string app = root.file("Panel.app");

    Exchange() {
        mkdir(data.c_str(), 0700);
        makeSavePanelBundle(app, ". " + root.file("script"));
        writeFile(root.file("script"), "");
    }

    // The chosen path (with the bookmark, when sent), "cancelled", or the error's message.
    std::string present(SmartSavePanelKind kind = SmartSavePanelKind::chooseDestination) const {
        try {
            const SmartSavePanelBridge bridge(data, app, "com.vantle.brindle.save-ui",
                                              "brindle-save-ui");
            const auto result = bridge.present(SmartSavePanelRequest(kind));
            if (result.resultCase() == SmartSavePanelBridgeResult::Case::cancelled)
                return "cancelled";
            const auto& bookmark = result.bookmarkData();
            return result.path() + (result.isDirectory() ? " (folder)" : "") +
                   (bookmark ? " [" + *bookmark + "]" : "");
        } catch (const std::exception& error) {
            return error.what();
        }
    }
};

std::string selected(const std::string& fields) {
    return R"({"outcome":"selected","schemaVersion":1,)" + fields + "}";
}

std::string bookmark(const std::string& text) {
    return selected(R"("selectedPath":"/p","bookmarkDataBase64":")" + text + "\"");
}

std::string failed(const std::string& fields) {
    return R"({"outcome":"failed","schemaVersion":1)" + fields + "}";
}

TEST(SmartSavePanelBridge, AcceptsOnlyWellFormedResponsesAndRemovesBothExchangeFiles) {
    const std::string cancelled = R"({"outcome":"cancelled","schemaVersion":1})";
    const std::string longPath = "/" + std::string(8191, 'a');
    const std::string accented = "e\u0301"; // one character of two scalars
    std::string longMessage;
    for (int count = 0; count < 1001; ++count)
        longMessage += accented;
    Exchange exchange;
    const std::string response = exchange.root.file("response");
    struct Row {
        std::optional<std::string> response; // copied to the response path first
        std::string script;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {selected(R"("selectedPath":"\/tmp\/a\/..\/b.png","error":"x")"), "", "/tmp/b.png"},
        {selected(R"("selectedPath":")" + longPath + "\""), "", longPath},
        {selected(R"("selectedPath":"/)" + longPath + "\""), "", invalid},
        {selected(R"("selectedPath":"b.png")"), "", invalid},
        {selected(R"("selectedPath":"/a\u0000b")"), "", invalid},
        {selected(R"("schemaVersion":1)"), "", invalid},
        {bookmark("QUI="), "", "/p [AB]"},
        {bookmark(std::string(64000, 'A')), "", "/p [" + std::string(48000, '\0') + "]"},
        {bookmark(std::string(64000, 'A') + "AA=="), "", invalid},
        {bookmark(""), "", invalid},
        {bookmark("QUJD\\nQUJD"), "", invalid},
        {bookmark("QU=I"), "", invalid},
        {R"({"outcome":"selected","schemaVersion":2,"selectedPath":"/p"})", "", invalid},
        {R"({"outcome":"cancelled","schemaVersion":1,"selectedPath":"b.png"})", "", "cancelled"},
        {cancelled + std::string(65536 - cancelled.size(), ' '), "", "cancelled"},
        {cancelled + std::string(65537 - cancelled.size(), ' '), "", invalid},
        {"not json", "", invalid},
        {failed(R"(,"error":" \n boom\t")"), "", "boom"},
        {failed(R"(,"error":"   ")"), "", "智能保存窗口打开失败"},
        {failed(""), "", "智能保存窗口打开失败"},
        {failed(R"(,"error":")" + longMessage + " \""), "", longMessage.substr(0, 3000)},
        {std::nullopt, "", missing},
        {cancelled, "kill -9 $$", "cancelled"},
        {cancelled, "rm \"$4\"; ln -s " + response + " \"$4\"", invalid},
        {std::nullopt, "mkdir \"$4\"", invalid},
        {cancelled, "chown 65534 \"$4\"", geteuid() == 0 ? invalid : "cancelled"},
        // The exit status speaks only for an application that did not answer.
        {cancelled, "echo boom >&2; exit 3", "cancelled"},
        {failed(R"(,"error":"保存窗口请求版本不兼容")"), "exit 1", "保存窗口请求版本不兼容"},
        {std::nullopt, "echo boom >&2; exit 3", launchFailed + "boom"},
        {std::nullopt, "echo >&2; exit 1", launchFailed + "启动器退出码 1"},
        // A two-byte character cut at byte 4096 leaves no valid text.
        {std::nullopt, "head -c 4095 /dev/zero | tr '\\0' x >&2; printf '\\303\\251' >&2; exit 2",
         launchFailed + "启动器退出码 2"},
        // Far more than a pipe holds: the panel is never blocked, and 4096 bytes are kept.
        {std::nullopt, "head -c 1000000 /dev/zero | tr '\\0' y >&2; exit 4",
         launchFailed + std::string(4096, 'y')},
    };
    for (const Row& row : rows) {
        if (row.response)
            writeFile(response, *row.response);
        writeFile(exchange.root.file("script"),
                  (row.response ? "cat " + response + " > \"$4\"\n" : "") + row.script);
        EXPECT_EQ(exchange.present(), row.expected) << row.script << row.response.value_or("");
        EXPECT_EQ(entries(exchange.data + "/PanelRequests"), std::vector<std::string>{});
    }
    writeFile(response, selected(R"("selectedPath":"/a/b/")"));
    writeFile(exchange.root.file("script"), "cat " + response + " > \"$4\"");
    EXPECT_EQ(exchange.present(SmartSavePanelKind::chooseLibraryRoot), "/a/b (folder)");
}

TEST(SmartSavePanelBridge, RefusesABrokenBundleOrDataFolderBeforeWritingAnything) {
    const std::string program = "Panel.app/Contents/MacOS/brindle-save-ui";
    const std::vector<std::pair<std::string, std::string>> rows = {
        // shell commands in the root
        {"sed -i s/save-ui/smart-save-ui/ Panel.app/Contents/Info.plist", notInstalled},
        {"echo '<plist>' > Panel.app/Contents/Info.plist", notInstalled},
        {"rm " + program, notInstalled},
        {"chmod 644 " + program, notInstalled},
        {"mv " + program + " program && ln -s $PWD/program " + program, notInstalled},
        {"mv Panel.app Real.app && ln -s Real.app Panel.app", notInstalled},
        {geteuid() == 0 ? "chown 65534 Panel.app" : "rm " + program, notInstalled},
        {"chmod g+w Panel.app/Contents", notInstalled},
        {"chmod o+w Panel.app/Contents/MacOS", notInstalled},
        {"chmod g+w " + program, notInstalled},
        {"rmdir SavePanel", invalidData},
        {"mv SavePanel Data && ln -s Data SavePanel", invalidData},
        {"touch SavePanel/PanelRequests", invalidData},
        {"ln -s $PWD SavePanel/PanelRequests", invalidData},
        {"mkdir -m 755 SavePanel/PanelRequests", missing},
    };
    for (const auto& [command, expected] : rows) {
        Exchange exchange;
        ASSERT_EQ(std::system(("cd " + exchange.root.path() + " && " + command).c_str()), 0);
        EXPECT_EQ(exchange.present(), expected) << command;
        // A broken installation leaves nothing behind; an exchange folder in use is private.
        const auto folder = std::filesystem::symlink_status(exchange.data + "/PanelRequests");
        EXPECT_TRUE(
            !is_directory(folder) ||
            (expected != notInstalled && folder.permissions() == std::filesystem::perms::owner_all))
            << command;
    }
}

// A system-wide install belongs to root, and every user's host runs it.
TEST(SmartSavePanelBridge, RunsARootOwnedBundleForAnotherUser) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    Exchange exchange;
    writeFile(exchange.root.file("script"),
              "echo '" + selected(R"("selectedPath":"/p")") + "' > \"$4\"");
    ASSERT_EQ(chmod(exchange.root.path().c_str(), 0755), 0);
    ASSERT_EQ(chown(exchange.data.c_str(), 65534, 65534), 0);
    int answer[2];
    ASSERT_EQ(pipe(answer), 0);
    const pid_t child = fork();
    if (child == 0) {
        const std::string result =
            setgid(65534) == 0 && setuid(65534) == 0 ? exchange.present() : "setuid";
        _exit(write(answer[1], result.data(), result.size()) < 0);
    }
    close(answer[1]);
    char buffer[512];
    const ssize_t length = read(answer[0], buffer, sizeof buffer);
    close(answer[0]);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(std::string(buffer, length > 0 ? length : 0), "/p");
}

TEST(SmartSavePanelBridge, DefaultConfigurationTakesTheEnvironmentsBundleOrTheOneBesideTheData) {
    const std::string current = std::filesystem::current_path();
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"", "/data/BrindleUI.app"},
        {"/x/./y/../Other.app", "/x/Other.app"},
        {"rel/Other.app", current + "/rel/Other.app"},
    };
    for (const auto& [configured, expected] : rows)
        EXPECT_EQ(SmartSavePanelBridge("/data/root/", {{"BRINDLE_UI_APP", configured}})
                      .helperApplicationPath(),
                  expected);
}

} // namespace
} // namespace brindle::testing
