// The exchange with the save panel: its records' JSON form, as both programs write and read it,
// and one exchange with a stand-in panel, a shell script in a bundle that writes scripted
// responses, standard error and exit codes.

#include "SmartSaveUIBridge/SmartSavePanelBridge.h"
#include "SmartSaveUIBridge/SmartSavePanelProtocol.h"
#include "Support/SavePanelStandIn.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

const std::string invalid = "智能保存窗口返回了无效结果";
const std::string missing = "智能保存窗口未返回选择结果";
const std::string notInstalled = "智能保存窗口组件未正确安装，请重新运行安装脚本";
const std::string invalidData = "智能保存的面板通信目录无效";
const std::string launchFailed = "无法启动智能保存窗口：";

// A data folder and a bundle whose program runs `script`.
struct Exchange {
    TemporaryDirectory root;
    std::string data = root.file("SavePanel");

    explicit Exchange(const std::string& script) {
        mkdir(data.c_str(), 0700);
        makeSavePanelBundle(root.file("Panel.app"), script);
    }

    // The chosen path, "cancelled", or the error's message. (The host asks only for a
    // destination, and neither reads nor gets a bookmark.)
    std::string present() const {
        try {
            const auto result =
                SmartSavePanelBridge(data, root.file("Panel.app"), "com.vantle.brindle.save-ui",
                                     "brindle-save-ui")
                    .present(SmartSavePanelRequest(SmartSavePanelKind::chooseDestination));
            if (result.resultCase() == SmartSavePanelBridgeResult::Case::cancelled)
                return "cancelled";
            return result.path();
        } catch (const std::exception& error) {
            return error.what();
        }
    }
};

std::string selected(const std::string& fields) {
    return R"({"outcome":"selected","schemaVersion":1,)" + fields + "}";
}

std::string failed(const std::string& fields) {
    return R"({"outcome":"failed","schemaVersion":1)" + fields + "}";
}

TEST(SmartSavePanelMessageCodec, WritesCompactSortedJSONWithEscapedSlashesForTheOwnerOnly) {
    const SmartSavePanelRequest request(SmartSavePanelKind::chooseLibraryRoot, "/a/b", "x/y.png",
                                        "T", "多行\n消息", "com.apple.keylayout.ABC");
    const SmartSavePanelResponse response(SmartSavePanelOutcome::failed, "/p", "QQ==", "e", true);
    TemporaryDirectory directory;
    const std::string requestPath = directory.file("t.request.json");
    const std::string responsePath = directory.file("t.response.json");
    SmartSavePanelMessageCodec::writeRequest(request, requestPath);
    SmartSavePanelMessageCodec::writeResponse(response, responsePath);
    EXPECT_EQ(readFile(requestPath),
              R"({"directoryPath":"\/a\/b","kind":"chooseLibraryRoot",)"
              R"("originalInputSourceIdentifier":"com.apple.keylayout.ABC",)"
              R"("panelMessage":"多行\n消息","panelTitle":"T","schemaVersion":1,)"
              R"("suggestedFilename":"x\/y.png"})");
    EXPECT_EQ(readFile(responsePath),
              R"({"bookmarkDataBase64":"QQ==","error":"e","outcome":"failed",)"
              R"("replaceApproved":true,"schemaVersion":1,"selectedPath":"\/p"})");
    EXPECT_EQ(SmartSavePanelMessageCodec::decodeRequest(requestPath), request);
    EXPECT_EQ(SmartSavePanelMessageCodec::decodeResponse(readFile(responsePath)), response);
    EXPECT_EQ(statusOf(responsePath).st_mode & 07777, 0600u);
}

TEST(SmartSavePanelBridge, RunsOnlyAnIntactBundleAndAcceptsOnlyWellFormedResponses) {
    const std::string cancelled = R"({"outcome":"cancelled","schemaVersion":1})";
    const std::string longPath = "/" + std::string(8191, 'a');
    const std::string program = "Panel.app/Contents/MacOS/brindle-save-ui";
    TemporaryDirectory scratch;
    const std::string response = scratch.file("response");
    const struct {
        std::optional<std::string> response; // copied to the response path first
        std::string script;
        std::string expected;
        std::string before = ""; // shell commands in the root, before the panel is asked for
    } rows[] = {
        {selected(R"("selectedPath":"\/tmp\/a\/..\/b.png","error":"x")"), "", "/tmp/b.png"},
        {selected(R"("selectedPath":")" + longPath + "\""), "", longPath},
        {selected(R"("selectedPath":"/)" + longPath + "\""), "", invalid},
        {selected(R"("selectedPath":"b.png")"), "", invalid},
        {selected(R"("selectedPath":"/a\u0000b")"), "", invalid},
        {selected(R"("schemaVersion":1)"), "", invalid},
        {R"({"outcome":"selected","schemaVersion":2,"selectedPath":"/p"})", "", invalid},
        {R"({"outcome":"cancelled","schemaVersion":1,"selectedPath":"b.png"})", "", "cancelled"},
        {cancelled + std::string(65536 - cancelled.size(), ' '), "", "cancelled"},
        {cancelled + std::string(65537 - cancelled.size(), ' '), "", invalid},
        {"not json", "", invalid},
        {R"(["outcome","cancelled"])", "", invalid},
        // Typed as written, an integral version however it is spelt, unknown keys ignored.
        {R"({"outcome":"cancelled","schemaVersion":1.0,"extra":[1]})", "", "cancelled"},
        {R"({"outcome":"maybe","schemaVersion":1})", "", invalid},
        {R"({"outcome":"cancelled","schemaVersion":1.5})", "", invalid},
        {R"({"outcome":"cancelled"})", "", invalid},
        {R"({"schemaVersion":1})", "", invalid},
        {selected(R"("selectedPath":"/p","replaceApproved":1)"), "", invalid},
        {failed(R"(,"error":" \n boom\t")"), "", "boom"},
        {failed(R"(,"error":null)"), "", "智能保存窗口打开失败"},
        {std::nullopt, "", missing},
        {cancelled, "kill -9 $$", "cancelled"},
        {cancelled, "rm \"$4\"; ln -s " + response + " \"$4\"", invalid},
        {std::nullopt, "mkdir \"$4\"", invalid},
        {cancelled, "chown 65534 \"$4\"", geteuid() == 0 ? invalid : "cancelled"},
        // The exit status speaks only for an application that did not answer.
        {failed(R"(,"error":"保存窗口请求版本不兼容")"), "exit 1", "保存窗口请求版本不兼容"},
        {std::nullopt, "echo boom >&2; exit 3", launchFailed + "boom"},
        {std::nullopt, "echo >&2; exit 1", launchFailed + "启动器退出码 1"},
        // A two-byte character cut at byte 4096 leaves no valid text.
        {std::nullopt, "head -c 4095 /dev/zero | tr '\\0' x >&2; printf '\\303\\251' >&2; exit 2",
         launchFailed + "启动器退出码 2"},
        // Far more than a pipe holds: the panel is never blocked, and 4096 bytes are kept.
        {std::nullopt, "head -c 1000000 /dev/zero | tr '\\0' y >&2; exit 4",
         launchFailed + std::string(4096, 'y')},
        // A bundle or data folder that is not as installed: refused before anything is written.
        {cancelled, "", notInstalled, "sed -i s/save-ui/other/ Panel.app/Contents/Info.plist"},
        {cancelled, "", notInstalled, "echo '<plist>' > Panel.app/Contents/Info.plist"},
        {cancelled, "", notInstalled, "rm " + program},
        {cancelled, "", notInstalled, "chmod 644 " + program},
        {cancelled, "", notInstalled, "mv " + program + " p && ln -s $PWD/p " + program},
        {cancelled, "", notInstalled, "mv Panel.app Real.app && ln -s Real.app Panel.app"},
        {cancelled, "", notInstalled, geteuid() == 0 ? "chown 65534 Panel.app" : "rm " + program},
        {cancelled, "", notInstalled, "chmod g+w Panel.app/Contents"},
        {cancelled, "", notInstalled, "chmod o+w Panel.app/Contents/MacOS"},
        {cancelled, "", notInstalled, "chmod g+w " + program},
        {cancelled, "", invalidData, "rmdir SavePanel"},
        {cancelled, "", invalidData, "mv SavePanel Data && ln -s Data SavePanel"},
        {cancelled, "", invalidData, "touch SavePanel/PanelRequests"},
        {cancelled, "", invalidData, "ln -s $PWD SavePanel/PanelRequests"},
        {std::nullopt, "", missing, "mkdir -m 755 SavePanel/PanelRequests"},
    };
    for (const auto& row : rows) {
        if (row.response)
            writeFile(response, *row.response);
        Exchange exchange((row.response ? "cat " + response + " > \"$4\"\n" : "") + row.script);
        if (!row.before.empty()) {
            ASSERT_EQ(std::system(("cd " + exchange.root.path() + "; " + row.before).c_str()), 0);
        }
        EXPECT_EQ(exchange.present(), row.expected) << row.before << row.script;
        // A broken installation leaves nothing behind; an exchange folder in use is private, and
        // empty once the exchange is over.
        const std::string folder = exchange.data + "/PanelRequests";
        const auto status = std::filesystem::symlink_status(folder);
        EXPECT_TRUE(!is_directory(status) ||
                    (row.expected != notInstalled && std::filesystem::is_empty(folder) &&
                     status.permissions() == std::filesystem::perms::owner_all))
            << row.before << row.script;
    }
}

// A system-wide install belongs to root, and every user's host runs it.
TEST(SmartSavePanelBridge, RunsARootOwnedBundleForAnotherUser) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    const Exchange exchange("echo '" + selected(R"("selectedPath":"/p")") + "' > \"$4\"");
    ASSERT_EQ(chmod(exchange.root.path().c_str(), 0755), 0);
    ASSERT_EQ(chown(exchange.data.c_str(), 65534, 65534), 0);
    const pid_t child = fork();
    if (child == 0)
        _exit(setgid(65534) == 0 && setuid(65534) == 0 && exchange.present() == "/p" ? 0 : 1);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
}

} // namespace
} // namespace brindle::testing
