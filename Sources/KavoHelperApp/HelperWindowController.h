#pragma once

#include "CompanionCore/CompanionInstaller.h"
#include "KavoHelperApp/ViewState.h"

#include <QStringList>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QFrame;
class QGraphicsOpacityEffect;
class QPropertyAnimation;

namespace brindle {

/// What the window asks of the desktop. The defaults start programs detached from this one,
/// find browsers on PATH and open files and pages with the desktop's default application.
struct DesktopServices {
    /// Starts `program` with `arguments` on its own; "" on success, otherwise why not.
    std::function<QString(const QString& program, const QStringList& arguments)> launch;
    /// The browser to open the extension page with, or "" when there is none.
    std::function<QString()> findChrome;
    std::function<void(const QString& urlOrPath)> open;
    std::function<void()> quit;
    /// False when the desktop asks for no animations.
    bool animationsEnabled = true;

    static DesktopServices standard();
};

/// The companion's one window: the connection state and the one next step.
class HelperWindowController : public QWidget {
    Q_OBJECT

public:
    HelperWindowController(CompanionInstaller installer, DesktopServices desktop);

    /// Shows the state at launch; `connectRequested` is the "--connect" of a fresh install.
    void start(bool connectRequested);

    const ViewState& state() const { return state_; }
    QPushButton* primaryButton() const { return primaryButton_; }
    QPushButton* chromeButton() const { return chromeButton_; }
    QPushButton* disconnectButton() const { return disconnectButton_; }
    /// The status card's opacity now (1 unless a fade is under way).
    qreal statusCardOpacity() const;

public slots:
    void primaryAction();
    void openChrome();
    void disconnect();
    void openSupport();
    void openLicences();

    /// Shows `state`; fades the status card in when `animated` and the desktop allows it.
    void render(const ViewState& state, bool animated);

private:
    void performConnection();
    void probeHost();
    void relaunch(const std::string& bundle);
    QPushButton* linkButton(const QString& title, void (HelperWindowController::*action)());
    void runInBackground(std::function<ViewState()> work, std::function<void(ViewState)> done);

    CompanionInstaller installer_;
    DesktopServices desktop_;
    ViewState state_;
    QLabel* iconView_;
    QLabel* statusSymbol_;
    QLabel* statusTitle_;
    QLabel* statusDescription_;
    QLabel* browsers_;
    QFrame* statusCard_;
    QPushButton* primaryButton_;
    QPushButton* chromeButton_;
    QPushButton* disconnectButton_;
    QGraphicsOpacityEffect* cardOpacity_;
    QPropertyAnimation* cardFade_;
};

/// Whether the desktop's setting (GNOME's "enable-animations") allows animations.
bool desktopAnimationsEnabled();

} // namespace brindle
