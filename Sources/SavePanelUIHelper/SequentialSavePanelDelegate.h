#pragma once

#include "AppKitUIUtilities/RomanInputSourceSession.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QFileDialog>
#include <QLineEdit>

namespace brindle {

/// Keeps the panel's file-name field numbered for the folder on show: on every change of folder
/// the next free name for the current seed is worked out on a background thread and put in the
/// field, unless the user has typed over it meanwhile. A typed base name becomes the seed (with
/// the managed extension), and results worked out for the old seed are dropped. While the name
/// is edited the user's own input source is used, a Roman one while browsing.
class SequentialSavePanelDelegate : public QObject {
    Q_OBJECT

public:
    /// The free name for `seed` in `directory`, or none when there is no such name or the folder
    /// cannot be read. Called on a background thread.
    using Resolve = std::function<std::optional<std::string>(const std::string& seed,
                                                             const std::string& directory)>;

    /// The naming rule against the folder's entries, numbers up to 100000.
    static std::optional<std::string> resolveInFolder(const std::string& seed,
                                                      const std::string& directory);

    SequentialSavePanelDelegate(std::string suggestedFilename,
                                std::shared_ptr<RomanInputSourceSession> session,
                                Resolve resolve = resolveInFolder);
    /// Waits for a resolution that is running; its result is dropped.
    ~SequentialSavePanelDelegate() override;

    /// Follows the panel's changes of folder and the field's editing, and numbers the name for
    /// the folder on show now.
    void attach(QFileDialog& panel, QLineEdit& field);

    /// Drops every result still to come and lets go of the panel and the field.
    void shutDown();

    /// Starts over with the suggested name, numbered for the folder shown next.
    void restoreSuggestedFilename();

    /// The panel and the field are there and the field has the keyboard focus.
    bool isEditingFilename() const;

    const std::string& seedFilename() const noexcept { return seedFilename_; }
    const std::string& lastAutomaticallyAppliedFilename() const noexcept {
        return lastAutomaticallyAppliedFilename_;
    }
    bool isAutomaticallyManaged() const noexcept { return isAutomaticallyManaged_; }
    std::uint64_t resolutionGeneration() const noexcept { return resolutionGeneration_; }

    /// The panel shows `directory` now.
    void panelDidChangeToDirectory(const QString& directory);

private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void controlTextDidChange();
    void scheduleResolution(const std::optional<QString>& directory);
    void applyResolution(std::uint64_t generation, const std::string& directory,
                         const std::optional<std::string>& name);
    void adoptManualSeedIfNeeded(const std::string& text);
    void cancelPendingResolution();
    std::string shownDirectory() const;

    QPointer<QFileDialog> panel_;
    QPointer<QLineEdit> filenameField_;
    const QObject* filenameFieldObject_ = nullptr;
    Resolve resolve_;
    std::string suggestedFilename_;
    std::string seedFilename_;
    std::string lastAutomaticallyAppliedFilename_;
    std::uint64_t resolutionGeneration_ = 0;
    // Set to drop the last resolution submitted if it has not started yet.
    std::shared_ptr<std::atomic<bool>> pendingResolution_;
    bool isAutomaticallyManaged_ = true;
    std::shared_ptr<RomanInputSourceSession> romanInputSourceSession_;
    // Last, so that it is destroyed first: it waits for a running resolution.
    QThreadPool resolutionQueue_;
};

} // namespace brindle
