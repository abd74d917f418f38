// The installer and the connection in a temporary home folder, and real Chromium finding the
// manifest that connect wrote.

#include "CompanionCore/CompanionInstaller.h"
#include "Support/CompanionBundle.h"
#include "Support/HostProcess.h"
#include "Support/LoopbackHTTPServer.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

// The installed bundle, the error's message, or the connection state the action leaves.
std::string outcome(const CompanionInstaller& installer, std::string_view action) {
    try {
        if (action == "install")
            return installer.installOrUpdateApplication();
        if (action == "connect")
            installer.connect();
        if (action == "disconnect")
            installer.disconnect();
        if (action == "uninstall")
            installer.uninstall();
    } catch (const std::exception& error) {
        return error.what();
    }
    const CompanionConnectionState state = installer.connectionState();
    if (state.kind == CompanionConnectionState::Kind::needsRepair)
        return state.reason;
    return state.kind == CompanionConnectionState::Kind::connected ? "connected" : "disconnected";
}

// Bundle ‖ action ‖ shell set-up in the home folder ‖ outcome ‖ shell check afterwards. Each row
// starts with the companion unpacked in Downloads, installed and connected; $P is instead the
// package's bundle in the system's /opt, without tools of its own, its manifest linked from the
// system-wide folders of Chrome and Chromium (each browser reads its per-user manifest first).
// $I, $U and $O stand for the incomplete bundle's, the unsafe path's and the outdated manifest's
// messages, \377 for the byte that is no UTF-8.
const char* const installerTable =
    R"table($D ‖ install ‖ sed -i s/kavo.helper/other/ "$D/Contents/Info.plist" ‖ $I应用标识不正确
$D ‖ install ‖ cd "$D/Contents/MacOS" && mv brindle-host h && ln -s h brindle-host ‖ $U本机通信组件：$D/Contents/MacOS/brindle-host
$D ‖ install ‖ chmod 644 "$D/Contents/MacOS/brindle-host" ‖ $I本机通信组件不能运行
$D ‖ install ‖ sed -i s/save-ui/other/ "$D"/Contents/Helpers/*/Contents/Info.plist ‖ $I保存窗口组件无效
$D ‖ install ‖ cd "$D/Contents/Helpers" && mv *.app s && ln -s s BrindleSaveUI.app ‖ $I保存窗口组件无效
$D ‖ install ‖ ln -sf /bin/true "$D/Contents/Resources/Tools/ffmpeg" ‖ $Uffmpeg：$D/Contents/Resources/Tools/ffmpeg
$D ‖ install ‖ chmod 644 "$D/Contents/Resources/Tools/ffprobe" ‖ $Iffprobe不能运行
$D ‖ install ‖ rm -r Applications ‖ $A ‖ test $(stat -c %a Applications) = 700 && desktop-file-validate .local/share/applications/com.vantle.kavo.helper.desktop
$D ‖ install ‖ touch "$A/old" ‖ $A ‖ test ! -e "$A/old"
$D ‖ install ‖ rm -r Applications && mkdir ../else && ln -s "$H/../else" Applications ‖ $U$H/Applications ‖ test -z "$(ls -A ../else)"
$D ‖ install ‖ rm -r Applications && ln -s Downloads Applications ‖ $U$H/Applications
$D ‖ install ‖ mkdir Applications/.Kavo-Helper-install-E621E1F8-C36C-495A-93FC-0C247A3E6E5F.app ‖ $A
$D ‖ install ‖ sed -i s/kavo.helper/other/ "$A/Contents/Info.plist" ‖ $I现有Kavo助手无效 ‖ grep -q other "$A/Contents/Info.plist"
$D ‖ install ‖ touch "$A/old" && mkfifo "$D/fifo" ‖ $IOperation not supported ‖ test -e "$A/old"
$H/x/../Applications/Kavo Helper.app ‖ install ‖ stat -c %i "$A" > ../inode ‖ $A ‖ stat -c %i "$A" | cmp ../inode && test -f .local/share/applications/*.desktop
$A ‖ connect ‖ mkdir -p .config/chromium ‖ connected ‖ cmp "$M" "$C" && stat -c %a "$M" "${M%/N*}" | xargs | grep -qx '600 700' && sed -n 's/^  "\(.*\)" : .*/\1/p' "$M" | xargs | grep -qx 'allowed_origins description name path type' && grep -qx '    "chrome-extension://pmoihgkcfjbalendpmoihgkcfjbalend/"' "$M"
$A ‖ disconnect ‖ mkdir -p "${C%/*}" && cp "$M" "$C" ‖ disconnected ‖ test ! -e "$M" && test ! -e "$C"
$A ‖ disconnect ‖ rm "$M" ‖ disconnected
$A ‖ state ‖ sed -i '1s/{/{"comment":1,/' "$M" ‖ connected
$A ‖ state ‖ sed -i '/chrome-ext/{s/$/,/;p;s/,$//}' "$M" ‖ $O
$A ‖ state ‖ sed -i '/"path"/s|/Contents|/Old|' "$M" ‖ $O
$A ‖ state ‖ sed -i s/stdio/tcp/ "$M" ‖ $O
$A ‖ state ‖ sed -i /description/d "$M" ‖ $O
$A ‖ state ‖ echo { > "$M" ‖ $O
$A ‖ state ‖ mkdir -p "${C%/*}" && echo {} > "$C" ‖ Chromium：$O
$A ‖ state ‖ mkdir -p .config/chromium ‖ Chromium 尚未连接
$A ‖ connect ‖ cd .config && mkdir -p google-chrome-unstable BraveSoftware/Brave-Browser-Nightly microsoft-edge-beta vivaldi ‖ connected ‖ for f in google-chrome google-chrome-unstable BraveSoftware/Brave-Browser-Nightly microsoft-edge-beta vivaldi; do cmp "$M" .config/$f/NativeMessagingHosts/com.vantle.brindle.json || exit 1; done && test $(find . -name '*.json' | wc -l) = 5
$A ‖ connect ‖ mkdir -p .var/app/com.google.Chrome/config/google-chrome snap/chromium/common/chromium ‖ connected ‖ test -z "$(find .var snap -name '*.json')"
$A ‖ state ‖ rm "$A/Contents/Resources/Tools/cwebp" ‖ $Ucwebp：$A/Contents/Resources/Tools/cwebp
$A ‖ state ‖ mv "$M" ../real.json && ln -s "$H/../real.json" "$M" ‖ $UChrome 连接文件：$M
$A ‖ connect ‖ mv "$M" ../real.json && ln -s "$H/../real.json" "$M" ‖ $UChrome 连接文件：$M ‖ test -L "$M"
$A ‖ disconnect ‖ mv "$M" ../real.json && ln -s "$H/../real.json" "$M" ‖ $UChrome 连接文件：$M ‖ test -L "$M"
$A ‖ disconnect ‖ mkdir ../c && mv "${M%/*}" ../c && ln -s "$H/../c/NativeMessagingHosts" "${M%/*}" ‖ $U$H/.config/google-chrome/NativeMessagingHosts ‖ test -f ../c/*/*.json
$A ‖ connect ‖ rm -r .config/google-chrome && mkdir ../c && ln -s "$H/../c" "${M%/N*}" ‖ $U$H/.config/google-chrome ‖ test -z "$(ls -A ../c)"
$H/Applications/\377.app ‖ connect ‖ cp -r "$A" "Applications/$(printf '\377').app" ‖ 浏览器的连接文件只能记录 UTF-8 文字的路径，Kavo助手不能使用这个位置：$H/Applications/�.app/Contents/MacOS/brindle-host ‖ ! grep -q "$(printf '\377')" "$M"
$D ‖ connect ‖ rm -r .config ‖ 请先把Kavo助手安装到 ~/Applications 文件夹。 ‖ test ! -e .config
$D ‖ state ‖ sed -i s/Applications/Downloads/ "$M" ‖ 助手仍在临时位置
$P ‖ install ‖ ‖ $P ‖ test ! -e "$A" && test ! -e .local/share/applications
$P ‖ state ‖ mkdir -p .config/chromium ‖ connected
$P ‖ connect ‖ mkdir -p .config/chromium .config/BraveSoftware/Brave-Browser ‖ connected ‖ test ! -e "$M" && test ! -e "$C" && test -f .config/BraveSoftware/Brave-Browser/*/*.json
$P ‖ state ‖ mkdir -p .config/BraveSoftware/Brave-Browser ‖ Brave 尚未连接
$P ‖ state ‖ mkdir -p "${M%/*}" && echo {} > "$M" ‖ $O
$P ‖ state ‖ rm "$P"/Contents/Resources/*/*.json ‖ disconnected
$P ‖ state ‖ sed -i s/brindle-host/other/ "$P"/Contents/Resources/*/*.json ‖ $O
$P ‖ disconnect ‖ ‖ connected
$P ‖ uninstall ‖ ‖ Kavo助手是以软件包为这台电脑的所有用户安装的，请用软件包管理器卸载：sudo apt remove kavo-helper ‖ test -d "$P" && test -L "$S"/etc/chromium/*/*.json)table";

const char* const systemSetUp = R"(N="$P/Contents/Resources/NativeMessagingHosts"
mkdir -p "$S/opt" && cp -r "$D" "$P" && rm -r "$P/Contents/Resources/Tools" && mkdir "$N" &&
mv ../x.json "$N" && for f in opt/chrome chromium; do mkdir -p "$S/etc/$f/native-messaging-hosts" &&
ln -s "$N/x.json" "$S/etc/$f/native-messaging-hosts/com.vantle.brindle.json" || exit 1; done)";

TEST(CompanionInstaller, InstallsConnectsOrRefusesWithoutTouchingWhatIsNotItsOwn) {
    const Names messages = {{"$I", "Kavo助手安装包不完整："},
                            {"$U", "为保护您的文件，Kavo助手没有修改异常路径："},
                            {"$O", "Chrome 的连接信息不是当前版本"},
                            {"\\377", "\xff"}};
    for (const auto& row : tableRows(replacing(installerTable, messages), 5)) {
        SCOPED_TRACE(row[0] + " " + row[1] + ": " + row[2]);
        const CompanionHome home;
        const CompanionPaths paths(home.home, "", home.system);
        if (row[0] == "$P") {
            writeFile(home.root.file("x.json"),
                      CompanionInstaller(home.expand("$P"), paths).manifestData());
            ASSERT_TRUE(home.shell(systemSetUp));
        } else {
            home.install();
            CompanionInstaller(home.installed, paths).connect();
        }
        ASSERT_TRUE(home.shell(row[2]));
        EXPECT_EQ(outcome(CompanionInstaller(home.expand(row[0]), paths), row[1]),
                  home.expand(row[3]));
        EXPECT_TRUE(home.shell(
            "! ls -A Applications/ 2>/dev/null | grep -q Kavo-Helper-install || exit 1\n" +
            row[4]));
    }
}

TEST(CompanionConnection, WritesEachManifestInFullOrNotAtAll) {
    const CompanionHome home;
    home.install();
    const CompanionInstaller installer(home.installed, home.home);
    EXPECT_TRUE(
        CompanionInstaller("/opt/Kavo Helper.app", home.home).isInStableApplicationsDirectory());

    // Larger than the file size limit: refused, and no temporary file is left behind.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{16, limit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string failed = outcome(installer, "connect");
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(failed, "无法创建 Chrome 连接文件，请检查当前账户的文件权限。");
    EXPECT_TRUE(home.shell("test -z \"$(ls -A \"${M%/*}\")\""));
}

// Real Chromium, first started after the connect, cannot find the host until the next connect;
// then a test extension other than the production one is refused access to the host instead of
// being told that none exists. Headless Chromium would make up a temporary profile: it is
// pointed at its default one, in the configuration home.
TEST(ChromiumConnection, FindsTheHostOnceConnectedAfterItsFirstStart) {
    if (access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "Chromium is not installed";
    const CompanionHome home;
    home.install();
    ASSERT_TRUE(home.shell("cp -r '" BRINDLE_TEST_EXTENSION_DIR "' ../x"));
    const CompanionInstaller installer(home.installed,
                                       CompanionPaths(home.home, home.home + "/cfg"));
    installer.connect();
    LoopbackHTTPServer server;
    writeFile(home.root.file("x/report.js"),
              "const reportURL = '" + server.url("/report") + "';\n");
    const auto nativeMessagingError = [&]() -> std::string {
        // A session of its own, so that the browser's helper processes can be ended with it.
        EXPECT_TRUE(home.shell(R"(HOME="$H" XDG_CONFIG_HOME="$H/cfg" setsid /usr/bin/chromium \
            --headless=new --no-sandbox --disable-gpu --no-first-run --disable-sync \
            --disable-background-networking --disable-component-update --load-extension="$H/../x" \
            --disable-features=DisableLoadExtensionCommandLineSwitch about:blank \
            --user-data-dir="$H/cfg/chromium" > ../chromium.log 2>&1 & echo $! > ../pid)"));
        const auto body = server.nextRequestBody(std::chrono::seconds(90));
        kill(-std::stoi(readFile(home.root.file("pid"))), SIGKILL);
        if (!body)
            return "no report; Chromium said:\n" + readFile(home.root.file("chromium.log"));
        return std::string(json(*body).at("ping").at("nativeMessagingError").as_string());
    };
    EXPECT_EQ(nativeMessagingError(), "Specified native messaging host not found.");
    EXPECT_EQ(outcome(installer, "state"), "Chromium 尚未连接");
    installer.connect();
    EXPECT_EQ(outcome(installer, "state"), "connected");
    EXPECT_EQ(nativeMessagingError(),
              "Access to the specified native messaging host is forbidden.");
}

} // namespace
} // namespace brindle::testing
