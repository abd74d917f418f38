#include "CompanionCore/CompanionInstaller.h"
#include "KavoHelperApp/CommandLine.h"
#include "KavoHelperApp/Display.h"
#include "KavoHelperApp/HelperWindowController.h"
#include "KavoHelperApp/TerminalMode.h"
#include "MetadataCore/ProductInfo.h"
#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"

#include <iostream>

namespace {

// A window needs a display, or one of Qt's platforms that draw without one.
bool mayShowWindow() {
    using brindle::platform::configuredValue;
    const auto platform = configuredValue("QT_QPA_PLATFORM");
    return configuredValue("DISPLAY") || configuredValue("WAYLAND_DISPLAY") ||
           platform == "offscreen" || platform == "minimal";
}

} // namespace

int main(int argc, char** argv) {
    using namespace brindle;
    const auto command = parseCommandLine(std::vector<std::string_view>(argv + 1, argv + argc));
    if (!command) {
        std::cerr << commandLineUsage;
        return 2;
    }
    if (command->action == CommandLine::Action::help) {
        std::cout << commandLineUsage;
        return 0;
    }
    if (command->action == CommandLine::Action::version) {
        std::cout << KavoProduct::companionDisplayName << " " << KavoProduct::version << "\n";
        return 0;
    }
    const auto home = platform::homeDirectory();
    if (!home) {
        std::cerr << "kavo-helper: 找不到当前账户的主文件夹\n";
        return 2;
    }
    // The program lies in <bundle>/Contents/MacOS. The kernel's path to it holds however it was
    // started: through a link elsewhere, or by a name looked up on PATH.
    const std::string bundle =
        platform::deletingLastPathComponent(platform::deletingLastPathComponent(
            platform::deletingLastPathComponent(platform::resolvedExecutablePath())));
    const CompanionInstaller installer(
        bundle, CompanionPaths(*home, platform::configurationDirectory().value_or("")));

    if (!command->wantsWindow() || !mayShowWindow())
        return runInTerminal(installer, command->action, std::cout);
    const auto application = openDisplay(argc, argv);
    if (!application) {
        std::cerr << "kavo-helper: 无法连接到显示器，改在终端中进行。\n";
        return runInTerminal(installer, command->action, std::cout);
    }
    QApplication::setApplicationName("kavo-helper");
    QApplication::setApplicationDisplayName(QString::fromUtf8("Kavo助手"));
    QApplication::setDesktopFileName("com.vantle.kavo.helper");
    HelperWindowController window(installer, DesktopServices::standard());
    window.show();
    window.raise();
    window.activateWindow();
    window.start(command->action == CommandLine::Action::connect);
    return QApplication::exec();
}
