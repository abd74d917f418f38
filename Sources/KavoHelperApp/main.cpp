#include "CompanionCore/CompanionInstaller.h"
#include "KavoHelperApp/HelperWindowController.h"
#include "KavoHelperApp/TerminalMode.h"
#include "Platform/Path.h"
#include "Platform/ProcessInfo.h"
#include "Platform/StandardDirectories.h"

#include <QApplication>

#include <algorithm>
#include <iostream>

namespace {

bool hasArgument(int argc, char** argv, std::string_view argument) {
    return std::any_of(argv + 1, argv + argc, [&](const char* given) { return given == argument; });
}

// A window needs a display, or one of Qt's platforms that draw without one.
bool canShowWindow() {
    using brindle::platform::configuredValue;
    const auto platform = configuredValue("QT_QPA_PLATFORM");
    return configuredValue("DISPLAY") || configuredValue("WAYLAND_DISPLAY") ||
           platform == "offscreen" || platform == "minimal";
}

} // namespace

int main(int argc, char** argv) {
    using namespace brindle;
    platform::setProgramArguments(argc, argv);
    const auto home = platform::homeDirectory();
    if (!home) {
        std::cerr << "kavo-helper: 找不到当前账户的主文件夹\n";
        return 2;
    }
    // The program lies in <bundle>/Contents/MacOS.
    const std::string bundle =
        platform::deletingLastPathComponent(platform::deletingLastPathComponent(
            platform::deletingLastPathComponent(platform::executablePath())));
    CompanionInstaller installer(bundle, *home);

    if (hasArgument(argc, argv, "--terminal") || !canShowWindow())
        return runInTerminal(installer, std::cout);

    QApplication application(argc, argv);
    QApplication::setApplicationName("kavo-helper");
    QApplication::setApplicationDisplayName(QString::fromUtf8("Kavo助手"));
    QApplication::setDesktopFileName("com.vantle.kavo.helper");
    HelperWindowController window(std::move(installer), DesktopServices::standard());
    window.show();
    window.raise();
    window.activateWindow();
    window.start(hasArgument(argc, argv, "--connect"));
    return QApplication::exec();
}
