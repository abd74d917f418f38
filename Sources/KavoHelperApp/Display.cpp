#include "KavoHelperApp/Display.h"

namespace brindle {

namespace {

constexpr const char* platformVariable = "QT_QPA_PLATFORM";
constexpr const char* fallback = "offscreen";

bool drawsWithoutDisplay(const QByteArray& platforms) {
    return platforms.contains(fallback) || platforms.contains("minimal");
}

// Qt's own order: Wayland first in a Wayland session other than GNOME's, where it prefers X.
QByteArray platformsToTry(const QByteArray& asked) {
    if (!asked.isEmpty())
        return asked;
    const bool gnome = qgetenv("XDG_CURRENT_DESKTOP").toLower().contains("gnome");
    if (qgetenv("XDG_SESSION_TYPE") == "wayland" && !gnome)
        return "wayland;xcb";
    return "xcb;wayland";
}

// What the platforms that could not connect say is in English and beside the point: the
// companion says what it does instead.
void ignoreMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

// Qt tries the platforms of a list in turn and aborts only when none can start; the last one on
// the list always starts, and the application then says which one it got.
std::unique_ptr<QApplication> openDisplay(int& argc, char** argv) {
    const QByteArray asked = qgetenv(platformVariable);
    if (drawsWithoutDisplay(asked))
        return std::make_unique<QApplication>(argc, argv);
    qputenv(platformVariable, platformsToTry(asked) + ";" + fallback);
    const QtMessageHandler previous = qInstallMessageHandler(ignoreMessage);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    // The programs the companion starts choose for themselves.
    if (asked.isEmpty())
        qunsetenv(platformVariable);
    else
        qputenv(platformVariable, asked);
    if (QGuiApplication::platformName() == fallback)
        return nullptr;
    return application;
}

} // namespace brindle
