#pragma once

#include "AppKitUIUtilities/RomanInputSourceSession.h"
#include "SavePanelUIHelper/SavePanelDesktop.h"
#include "SavePanelUIHelper/SequentialSavePanelDelegate.h"
#include "SmartSaveUIBridge/SmartSavePanelProtocol.h"

#include <QMainWindow>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <QFileDialog>
#include <QLineEdit>

namespace brindle {

class SavePanelActivationService;

/// The whole life of the save-panel application: it brings its window forward, shows the folder
/// chooser with the file-name row once the window is active, keeps it in front for a while,
/// settles name clashes and writes exactly one response, through `finish` only. Main thread only;
/// every delayed step re-checks the flags and generations below before it acts.
class SavePanelAppDelegate : public QObject {
    Q_OBJECT

public:
    /// `resolve` numbers the file-name field (the delegate's own rule when empty).
    SavePanelAppDelegate(SmartSavePanelRequest request, std::string responsePath,
                         SavePanelDesktop& desktop,
                         SequentialSavePanelDelegate::Resolve resolve = {});
    ~SavePanelAppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationDidBecomeActive();
    void applicationDidResignActive();
    void applicationWillTerminate();
    /// The host asks for the panel to come forward, on the screen under the pointer.
    void handleSavePanelActivationRequest();

    /// Builds and shows the panel once the window is active; otherwise asks for activation again.
    void present();
    /// Writes `response` and ends the application, the first time only.
    void finish(const SmartSavePanelResponse& response);

    /// The application's one window; the panel is its content.
    QMainWindow& window() noexcept { return window_; }
    QFileDialog* panel() const noexcept { return panel_; }
    SequentialSavePanelDelegate* filenameDelegate() const noexcept {
        return filenameDelegate_.get();
    }
    bool isPresenting() const noexcept { return presenting_; }
    bool isFinished() const noexcept { return finished_; }
    int activationAttempts() const noexcept { return activationAttempts_; }
    const std::optional<QRect>& preferredScreenFrame() const noexcept {
        return preferredScreenFrame_;
    }

private:
    bool eventFilter(QObject* watched, QEvent* event) override;

    void scheduleForegroundActivation();
    void schedulePresentation();
    void surfaceCurrentPanel();
    void schedulePanelVisibilityRecovery();
    void checkPanelVisibility(int attempt, std::uint64_t generation);
    void recoverPanelVisibility(int attempt, std::uint64_t generation);
    void enforceInputSourceForCurrentResponder();

    QLineEdit& addAccessoryRow(QFileDialog& panel, const std::string& filename);
    void panelDidComplete(bool confirmed, const std::string& filename,
                          const std::shared_ptr<SequentialSavePanelDelegate>& filenameDelegate,
                          const std::shared_ptr<RomanInputSourceSession>& session,
                          const QPointer<QFileDialog>& panel, const QPointer<QLineEdit>& field);
    void finishSelectingDestination(const std::string& directory, const std::string& filename,
                                    bool isAutomaticallyManaged);
    void finishWithFreeName(const std::string& directory, const std::string& filename);
    void askAboutExistingFile(const std::string& directory, const std::string& filename);

    SmartSavePanelRequest request_;
    std::string responsePath_;
    SavePanelDesktop& desktop_;
    SequentialSavePanelDelegate::Resolve resolve_;
    bool presentationScheduled_ = false;
    bool presenting_ = false;
    bool finished_ = false;
    int activationAttempts_ = 0;
    std::uint64_t visibilityRecoveryGeneration_ = 0;
    std::uint64_t activationTransitionGeneration_ = 0;
    std::optional<QRect> preferredScreenFrame_;
    QMainWindow window_;
    QPointer<QFileDialog> panel_;
    std::shared_ptr<SequentialSavePanelDelegate> filenameDelegate_;
    std::shared_ptr<RomanInputSourceSession> romanInputSourceSession_;
    std::unique_ptr<SavePanelActivationService> activationService_;
};

} // namespace brindle
