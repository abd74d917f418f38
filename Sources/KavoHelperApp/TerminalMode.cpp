#include "KavoHelperApp/TerminalMode.h"

#include "CompanionCore/NativeHostProbe.h"
#include "MetadataCore/ProductInfo.h"
#include "Platform/Files.h"
#include "Platform/PathsAndText.h"

namespace brindle {

namespace {

using Kind = CompanionConnectionState::Kind;

void printSandboxNotices(const CompanionInstaller& installer, std::ostream& out) {
    for (const SandboxedBrowser& browser : installer.sandboxedBrowsersPresent())
        out << sandboxNotice(browser) << "\n";
}

// Exit status 0 only once the browsers' manifests are current and the host answers.
int reportConnection(const CompanionInstaller& installer, std::ostream& out) {
    const CompanionConnectionState state = installer.connectionState();
    if (state.kind == Kind::disconnected) {
        out << "尚未连接 Chrome\n";
        return 1;
    }
    if (state.kind == Kind::needsRepair) {
        out << "连接需要修复：" << state.reason << "\n";
        return 1;
    }
    out << "正在检查连接\n" << std::flush;
    const std::string version = NativeHostProbe::version(installer.hostURL());
    out << "本机助手已连接 · 助手版本 " << version << "\n";
    return 0;
}

int installAndConnect(const CompanionInstaller& running, std::ostream& out) {
    std::string bundle = running.bundleURL();
    if (!running.isInStableApplicationsDirectory()) {
        out << "正在安装助手\n" << std::flush;
        bundle = running.installOrUpdateApplication();
        out << "已安装：" << bundle << "\n";
    }
    const CompanionInstaller installed(bundle, running.paths());
    out << "正在连接 Chrome\n" << std::flush;
    installed.connect();
    for (const BrowserConnection& browser : installed.browserConnections())
        out << browser.name << " 连接文件：" << browser.manifest << "\n";
    printSandboxNotices(installed, out);
    return reportConnection(installed, out);
}

int showStatus(const CompanionInstaller& installer, std::ostream& out) {
    for (const BrowserConnection& browser : installer.browserConnections())
        out << describeConnection(browser) << "\n";
    printSandboxNotices(installer, out);
    return reportConnection(installer, out);
}

// The user's own manifests go; a browser that reads the package's system-wide manifest still
// starts the host, and is named rather than reported as disconnected.
int disconnectBrowsers(const CompanionInstaller& installer, std::ostream& out) {
    installer.disconnect();
    bool stillConnected = false;
    for (const BrowserConnection& browser : installer.browserConnections()) {
        if (browser.state.kind != Kind::connected)
            continue;
        out << browser.name << " 仍通过系统范围的连接文件连接：" << browser.manifest
            << "（由软件包提供，卸载软件包后才会断开）\n";
        stillConnected = true;
    }
    if (!stillConnected)
        out << "已断开本机连接\n";
    return 0;
}

int uninstallCompanion(const CompanionInstaller& installer, std::ostream& out) {
    const std::vector<std::string> removable = {installer.paths().installedApplicationURL(),
                                                installer.paths().desktopEntryURL()};
    std::vector<std::string> removed;
    for (const std::string& path : removable) {
        if (platform::fileStatusAtPath(path))
            removed.push_back(path);
    }
    installer.uninstall();
    out << "已断开本机连接\n";
    for (const std::string& path : removed)
        out << "已删除：" << path << "\n";
    if (const auto data = platform::applicationSupportDirectory())
        out << "保留了本机组件的数据文件夹：" << platform::appendingPathComponent(*data, "Brindle")
            << "（不再需要时可以自行删除）\n";
    out << "下载的文件都保留在原处。\n";
    return 0;
}

} // namespace

int runInTerminal(const CompanionInstaller& running, CommandLine::Action action,
                  std::ostream& out) {
    using enum CommandLine::Action;
    out << KavoProduct::companionDisplayName << " " << KavoProduct::version << "\n";
    try {
        switch (action) {
        case status:
            return showStatus(running, out);
        case disconnect:
            return disconnectBrowsers(running, out);
        case uninstall:
            return uninstallCompanion(running, out);
        default:
            return installAndConnect(running, out);
        }
    } catch (const std::exception& error) {
        out << "没有完成：" << error.what() << "\n";
        return 1;
    }
}

} // namespace brindle
