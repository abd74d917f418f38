// The installer and the connection in a temporary home folder, and real Chromium finding the
// manifest that connect wrote.

#include "CompanionCore/CompanionInstaller.h"
#include "Platform/Processes.h"
#include "Support/CompanionBundle.h"
#include "Support/HostProcess.h"
#include "Support/LoopbackHTTPServer.h"

#include <boost/json.hpp>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

using State = CompanionConnectionState;
enum class Action { install, connect, disconnect, uninstall, state };

// The installed bundle, the error's message, or the connection state the action leaves.
std::string outcome(const CompanionInstaller& installer, Action action) {
    try {
        if (action == Action::install)
            return installer.installOrUpdateApplication();
        if (action == Action::connect)
            installer.connect();
        if (action == Action::disconnect)
            installer.disconnect();
        if (action == Action::uninstall)
            installer.uninstall();
    } catch (const std::exception& error) {
        return error.what();
    }
    const State state = installer.connectionState();
    if (state.kind == State::Kind::needsRepair)
        return state.reason;
    return state.kind == State::Kind::connected ? "connected" : "disconnected";
}

TEST(CompanionInstaller, InstallsConnectsOrRefusesWithoutTouchingWhatIsNotItsOwn) {
    struct Row {
        const char* bundle;
        Action action;
        const char* setUp; // shell, in the home folder
        std::string expected;
        const char* after = "true"; // shell that must succeed afterwards
    };
    using enum Action;
    const std::string incomplete = "Kavo助手安装包不完整：";
    const std::string unsafe = "为保护您的文件，Kavo助手没有修改异常路径：";
    const std::string outdated = "Chrome 的连接信息不是当前版本";
    const char* linkedManifest = R"(mv "$M" ../real.json && ln -s "$H/../real.json" "$M")";
    // Every row starts with the companion unpacked in Downloads, installed and connected.
    const std::vector<Row> rows = {
        {"$D", install, R"(rm "$D/Contents/Info.plist")", incomplete + "应用标识不正确"},
        {"$D", install, R"(sed -i s/kavo.helper/other/ "$D/Contents/Info.plist")",
         incomplete + "应用标识不正确"},
        {"$D", install, R"(rm "$D/Contents/MacOS/brindle-host")",
         unsafe + "本机通信组件：$D/Contents/MacOS/brindle-host"},
        {"$D", install, R"(cd "$D/Contents/MacOS" && mv brindle-host h && ln -s h brindle-host)",
         unsafe + "本机通信组件：$D/Contents/MacOS/brindle-host"},
        {"$D", install, R"(chmod 644 "$D/Contents/MacOS/brindle-host")",
         incomplete + "本机通信组件不能运行"},
        {"$D", install, R"(rm -r "$D/Contents/Helpers")", incomplete + "保存窗口组件无效"},
        {"$D", install, R"(sed -i s/save-ui/other/ "$D"/Contents/Helpers/*/Contents/Info.plist)",
         incomplete + "保存窗口组件无效"},
        {"$D", install, R"(cd "$D/Contents/Helpers" && mv *.app s && ln -s s BrindleSaveUI.app)",
         incomplete + "保存窗口组件无效"},
        {"$D", install, R"(rm "$D/Contents/Resources/Tools/cwebp")",
         unsafe + "cwebp：$D/Contents/Resources/Tools/cwebp"},
        {"$D", install, R"(ln -sf /bin/true "$D/Contents/Resources/Tools/ffmpeg")",
         unsafe + "ffmpeg：$D/Contents/Resources/Tools/ffmpeg"},
        {"$D", install, R"(chmod 644 "$D/Contents/Resources/Tools/ffprobe")",
         incomplete + "ffprobe不能运行"},
        {"$D", install, "rm -r Applications", "$A",
         "test $(stat -c %a Applications) = 700 && "
         "desktop-file-validate .local/share/applications/com.vantle.kavo.helper.desktop"},
        {"$D", install, R"(touch "$A/old")", "$A", R"(test ! -e "$A/old")"},
        {"$D", install, R"(rm -r Applications && mkdir ../else && ln -s "$H/../else" Applications)",
         unsafe + "$H/Applications", "test -z \"$(ls -A ../else)\""},
        {"$D", install, "rm -r Applications && ln -s Downloads Applications",
         unsafe + "$H/Applications"},
        // Left by a companion that ended during its copy.
        {"$D", install,
         "mkdir Applications/.Kavo-Helper-install-E621E1F8-C36C-495A-93FC-0C247A3E6E5F.app", "$A"},
        {"$D", install, R"(sed -i s/kavo.helper/other/ "$A/Contents/Info.plist")",
         incomplete + "现有Kavo助手无效", R"(grep -q other "$A/Contents/Info.plist")"},
        {"$D", install, R"(touch "$A/old" && mkfifo "$D/fifo")",
         incomplete + "Operation not supported", R"(test -e "$A/old")"},
        // Run from ~/Applications, however spelled: nothing is copied, the menu entry is written.
        {"$H/x/../Applications/Kavo Helper.app", install, R"(stat -c %i "$A" > ../inode)", "$A",
         R"(stat -c %i "$A" | cmp ../inode && test -f .local/share/applications/*.desktop)"},
        {"$A", connect, "", "connected"},
        {"$A", disconnect, R"(mkdir -p "${C%/*}" && cp "$M" "$C")", "disconnected",
         R"(test ! -e "$M" && test ! -e "$C")"},
        {"$A", disconnect, R"(rm "$M")", "disconnected"},
        {"$A", state, R"(sed -i '1s/{/{"comment":1,/' "$M")", "connected"},
        {"$A", state, R"(sed -i '/chrome-ext/s/$/,"x"/' "$M")", outdated},
        {"$A", state, R"(sed -i '/chrome-ext/{s/$/,/;p;s/,$//}' "$M")", outdated},
        {"$A", state, R"(sed -i '/"path"/s|/Contents|/Old|' "$M")", outdated},
        {"$A", state, R"(sed -i s/stdio/tcp/ "$M")", outdated},
        {"$A", state, R"(echo [1] > "$M")", outdated},
        {"$A", state, R"(echo { > "$M")", outdated},
        {"$A", state, R"(mkdir -p "${C%/*}" && echo {} > "$C")", "Chromium：" + outdated},
        {"$A", state, R"(rm "$A/Contents/Resources/Tools/cwebp")",
         unsafe + "cwebp：$A/Contents/Resources/Tools/cwebp"},
        {"$A", state, linkedManifest, unsafe + "Chrome 连接文件：$M"},
        {"$A", connect, linkedManifest, unsafe + "Chrome 连接文件：$M", R"(test -L "$M")"},
        {"$A", disconnect, linkedManifest, unsafe + "Chrome 连接文件：$M", R"(test -L "$M")"},
        {"$A", disconnect,
         R"(mkdir ../c && mv "${M%/*}" ../c && ln -s "$H/../c/NativeMessagingHosts" "${M%/*}")",
         unsafe + "$H/.config/google-chrome/NativeMessagingHosts", "test -f ../c/*/*.json"},
        {"$H/Applications/\xff.app", connect, R"(cp -r "$A" "Applications/$(printf '\377').app")",
         "浏览器的连接文件只能记录 UTF-8 "
         "文字的路径，Kavo助手不能使用这个位置：$H/Applications/\uFFFD.app/Contents/MacOS/"
         "brindle-host",
         R"-(! grep -q "$(printf '\377')" "$M")-"},
        {"$A", state, "mkdir -p .config/chromium", "Chromium 尚未连接"},
        {"$A", state, R"(sed -i /description/d "$M")", outdated},
        {"$A", connect,
         R"(rm -r .config/google-chrome && mkdir ../c && ln -s "$H/../c" "${M%/N*}")",
         unsafe + "$H/.config/google-chrome", "test -z \"$(ls -A ../c)\""},
        {"$D", connect, "rm -r .config", "请先把Kavo助手安装到 ~/Applications 文件夹。",
         "test ! -e .config"},
        {"$D", state, R"(sed -i s/Applications/Downloads/ "$M")", "助手仍在临时位置"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows.data()) + ": " + row.setUp);
        const CompanionHome home;
        home.install();
        CompanionInstaller(home.installed, home.home).connect();
        ASSERT_TRUE(home.shell(row.setUp));
        const CompanionInstaller installer(home.expand(row.bundle), home.home);
        EXPECT_EQ(outcome(installer, row.action), home.expand(row.expected));
        EXPECT_TRUE(home.shell(std::string(row.after) +
                               " && ! ls -A Applications/ | grep -q Kavo-Helper-install"));
    }
}

TEST(CompanionConnection, WritesEachManifestInFullOrNotAtAll) {
    const CompanionHome home;
    home.install();
    const CompanionInstaller installer(home.installed, home.home);
    ASSERT_TRUE(home.shell("mkdir -p .config/chromium"));
    installer.connect();
    const std::string host = home.installed + "/Contents/MacOS/brindle-host";
    EXPECT_EQ(readFile(home.manifest), R"({
  "allowed_origins" : [
    "chrome-extension://pmoihgkcfjbalendpmoihgkcfjbalend/"
  ],
  "description" : "Kavo macOS helper",
  "name" : "com.vantle.brindle",
  "path" : )" + boost::json::serialize(boost::json::string(host)) +
                                           R"(,
  "type" : "stdio"
}
)");
    EXPECT_TRUE(
        home.shell(R"(cmp "$M" "$C" && stat -c %a "$M" "${M%/N*}" | xargs | grep -qx '600 700')"));
    EXPECT_TRUE(
        CompanionInstaller("/opt/Kavo Helper.app", home.home).isInStableApplicationsDirectory());

    // Larger than the file size limit: refused, and no temporary file is left behind.
    ASSERT_TRUE(home.shell(R"(rm -r .config/chromium "$M")"));
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{16, limit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string failed = outcome(installer, Action::connect);
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(failed, "无法创建 Chrome 连接文件，请检查当前账户的文件权限。");
    EXPECT_TRUE(home.shell("test -z \"$(ls -A \"${M%/*}\")\""));
}

// The package's bundle in /opt, without tools of its own, and its manifest linked from the
// system-wide folders of Chrome and Chromium: each browser reads its per-user manifest first.
TEST(CompanionConnection, SystemWideInstallationIsTheBrowsersSystemManifest) {
    struct Row {
        Action action;
        std::string setUp; // shell, in the home folder
        std::string expected;
        std::string after = "true";
    };
    using enum Action;
    const std::string outdated = "Chrome 的连接信息不是当前版本";
    const std::string brave = ".config/BraveSoftware/Brave-Browser";
    const std::vector<Row> rows = {
        {install, "", "$P", R"(test ! -e "$A" && test ! -e .local/share/applications)"},
        {state, "mkdir -p .config/chromium", "connected"},
        {connect, "mkdir -p .config/chromium " + brave, "connected",
         R"(test ! -e "$M" && test ! -e "$C" && test -f )" + brave + "/*/*.json"},
        {state, "mkdir -p " + brave, "Brave 尚未连接"},
        {state, R"(mkdir -p "${M%/*}" && echo {} > "$M")", outdated},
        {state, R"(rm "$P"/Contents/Resources/*/*.json)", "disconnected"},
        {state, R"(sed -i s/brindle-host/other/ "$P"/Contents/Resources/*/*.json)", outdated},
        {disconnect, "", "connected"},
        {uninstall, "",
         "Kavo助手是以软件包为这台电脑的所有用户安装的，请用软件包管理器卸载：sudo apt remove "
         "kavo-helper",
         R"(test -d "$P" && test -L "$S"/etc/chromium/*/*.json)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.setUp);
        const CompanionHome home;
        const CompanionPaths paths(home.home, "", home.system);
        const CompanionInstaller installer(home.expand("$P"), paths);
        const std::string manifest =
            home.expand("$P/Contents/Resources/NativeMessagingHosts/x.json");
        ASSERT_TRUE(home.shell(
            R"(mkdir -p "$S/opt" && cp -r "$D" "$P" && rm -r "$P/Contents/Resources/Tools" &&
            mkdir -p "$P/Contents/Resources/NativeMessagingHosts" "$S/etc/opt/chrome/native-messaging-hosts" \
                "$S/etc/chromium/native-messaging-hosts")"));
        writeFile(manifest, installer.manifestData());
        ASSERT_TRUE(home.shell(R"(for f in opt/chrome chromium; do
            ln -s "$P/Contents/Resources/NativeMessagingHosts/x.json" "$S/etc/$f/native-messaging-hosts/com.vantle.brindle.json"; done)"));
        ASSERT_TRUE(home.shell(row.setUp));
        EXPECT_EQ(outcome(installer, row.action), home.expand(row.expected));
        EXPECT_TRUE(home.shell(row.after));
    }
}

// Each browser's folder stands in for the browser, under a configuration home of its own as
// XDG_CONFIG_HOME gives it; a sandboxed browser's profile gets nothing and is named.
TEST(CompanionConnection, EachBrowserPresentIsConnectedOnItsOwn) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"cfg/google-chrome-beta", "Google Chrome Beta"},
        {"cfg/google-chrome-unstable", "Google Chrome Dev"},
        {"cfg/chromium", "Chromium"},
        {"cfg/BraveSoftware/Brave-Browser", "Brave"},
        {"cfg/BraveSoftware/Brave-Browser-Beta", "Brave Beta"},
        {"cfg/BraveSoftware/Brave-Browser-Nightly", "Brave Nightly"},
        {"cfg/microsoft-edge", "Microsoft Edge"},
        {"cfg/microsoft-edge-beta", "Microsoft Edge Beta"},
        {"cfg/microsoft-edge-dev", "Microsoft Edge Dev"},
        {"cfg/vivaldi", "Vivaldi"},
        {".var/app/com.google.Chrome/config/google-chrome", "Google Chrome（Flatpak）"},
        {".var/app/org.chromium.Chromium/config/chromium", "Chromium（Flatpak）"},
        {"snap/chromium/common/chromium", "Chromium（Snap）"},
    };
    for (const auto& [folder, name] : rows) {
        SCOPED_TRACE(folder);
        const CompanionHome home;
        home.install();
        const CompanionInstaller installer(home.installed,
                                           CompanionPaths(home.home, home.home + "/cfg"));
        installer.connect();
        ASSERT_TRUE(home.shell("mkdir -p '" + folder + "'"));
        const bool sandboxed = !folder.starts_with("cfg/");
        // A browser started for the first time since the connect has no manifest yet.
        EXPECT_EQ(outcome(installer, Action::state), sandboxed ? "connected" : name + " 尚未连接");
        installer.connect();
        EXPECT_EQ(outcome(installer, Action::state), "connected");
        const std::string manifest =
            home.home + "/" + folder + "/NativeMessagingHosts/com.vantle.brindle.json";
        EXPECT_EQ(
            installer.browserConnections().back(),
            (BrowserConnection{
                sandboxed ? "Google Chrome" : name,
                sandboxed
                    ? home.home + "/cfg/google-chrome/NativeMessagingHosts/com.vantle.brindle.json"
                    : manifest,
                State::connected()}));
        EXPECT_EQ(exists(manifest), !sandboxed);
        const auto notices = installer.sandboxedBrowsersPresent();
        EXPECT_EQ(notices.empty() ? "" : notices.front().name, sandboxed ? name : "");
        installer.disconnect();
        EXPECT_TRUE(home.shell("test -z \"$(find . -name '*.json')\" && test ! -e .config"));
    }
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
        platform::ChildProcessLaunch launch;
        // A session of its own, so that the browser's helper processes can be ended with it.
        launch.program = "/usr/bin/setsid";
        launch.arguments = {
            "/bin/sh", "-c",
            "exec env HOME=\"$0\" XDG_CONFIG_HOME=\"$0/cfg\" /usr/bin/chromium "
            "--headless=new --no-sandbox --disable-gpu --no-first-run "
            "--disable-background-networking --disable-component-update "
            "--disable-sync --disable-features=DisableLoadExtensionCommandLineSwitch "
            "--user-data-dir=\"$0/cfg/chromium\" --load-extension=\"$1/x\" "
            "about:blank > \"$1/chromium.log\" 2>&1",
            home.home, home.root.path()};
        auto browser = platform::ChildProcess::spawn(launch);
        EXPECT_TRUE(browser);
        const auto body = server.nextRequestBody(std::chrono::seconds(90));
        kill(-browser->processIdentifier(), SIGKILL);
        if (!body)
            return "no report; Chromium said:\n" + readFile(home.root.file("chromium.log"));
        return std::string(json(*body).at("ping").at("nativeMessagingError").as_string());
    };
    EXPECT_EQ(nativeMessagingError(), "Specified native messaging host not found.");
    EXPECT_EQ(outcome(installer, Action::state), "Chromium 尚未连接");
    installer.connect();
    EXPECT_EQ(outcome(installer, Action::state), "connected");
    EXPECT_EQ(nativeMessagingError(),
              "Access to the specified native messaging host is forbidden.");
}

} // namespace
} // namespace brindle::testing
