#include "SavePanelUIHelper/SavePanelDesktop.h"

#include "SavePanelUIHelper/PanelPlacement.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace brindle {

bool SavePanelDesktop::isActive() const {
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

bool SavePanelDesktop::isShownInFront(const QWidget& window) const {
    return window.isVisible() && window.isActiveWindow() && window.windowHandle() != nullptr &&
           window.windowHandle()->isExposed();
}

// X11 has no application that is active without a window: the window is what comes forward.
// Without a window manager Qt gives it the input focus itself.
void SavePanelDesktop::activate(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

std::optional<QRect> SavePanelDesktop::screenFrameContainingPointer() const {
    std::vector<ScreenArea> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens.push_back({screen->geometry(), screen->availableGeometry()});
    return visibleFrameContaining(QCursor::pos(), screens);
}

std::optional<QRect> SavePanelDesktop::screenFrameOf(const QWidget& window) const {
    const QScreen* screen = window.screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return std::nullopt;
    return screen->availableGeometry();
}

void SavePanelDesktop::after(std::chrono::milliseconds delay, QObject* context,
                             std::function<void()> step) {
    QTimer::singleShot(delay, context, std::move(step));
}

void SavePanelDesktop::terminate() {
    QCoreApplication::exit(0);
}

} // namespace brindle
