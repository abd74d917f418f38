#include "SavePanelUIHelper/SequentialSavePanelDelegate.h"

#include "Platform/PathsAndText.h"
#include "SavePanelUIHelper/SavePanelText.h"
#include "SmartSaveUIBridge/SequentialFilenameResolver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>

namespace brindle {

namespace {

constexpr std::int64_t maximumSequenceNumber = 100'000;

std::string basename(const std::string& filename) {
    return SavePanelFilenamePresentation(filename).editableBasename();
}

} // namespace

std::optional<std::string>
SequentialSavePanelDelegate::resolveInFolder(const std::string& seed,
                                             const std::string& directory) {
    try {
        return SequentialFilenameResolver().resolve(seed, directory, maximumSequenceNumber);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

SequentialSavePanelDelegate::SequentialSavePanelDelegate(
    std::string suggestedFilename, std::shared_ptr<RomanInputSourceSession> session,
    Resolve resolve)
    : resolve_(std::move(resolve)), suggestedFilename_(suggestedFilename),
      seedFilename_(suggestedFilename),
      lastAutomaticallyAppliedFilename_(std::move(suggestedFilename)),
      romanInputSourceSession_(std::move(session)) {
    resolutionQueue_.setObjectName(QStringLiteral("com.vantle.brindle.filename-resolution"));
}

SequentialSavePanelDelegate::~SequentialSavePanelDelegate() {
    shutDown();
}

void SequentialSavePanelDelegate::attach(QFileDialog& panel, QLineEdit& field) {
    panel_ = &panel;
    filenameField_ = &field;
    filenameFieldObject_ = &field;
    // The folder model hears of every way to another folder; the panel's own signal misses Back
    // and Forward.
    if (auto* folders = panel.findChild<QFileSystemModel*>())
        connect(folders, &QFileSystemModel::rootPathChanged, this,
                &SequentialSavePanelDelegate::panelDidChangeToDirectory);
    else
        connect(&panel, &QFileDialog::directoryEntered, this,
                &SequentialSavePanelDelegate::panelDidChangeToDirectory);
    connect(&field, &QLineEdit::textEdited, this,
            &SequentialSavePanelDelegate::controlTextDidChange);
    field.installEventFilter(this);
    scheduleResolution(panel.directory().absolutePath());
}

void SequentialSavePanelDelegate::shutDown() {
    ++resolutionGeneration_;
    cancelPendingResolution();
    if (panel_)
        panel_->disconnect(this);
    if (filenameField_) {
        filenameField_->disconnect(this);
        filenameField_->removeEventFilter(this);
    }
    panel_ = nullptr;
    filenameField_ = nullptr;
    filenameFieldObject_ = nullptr;
}

void SequentialSavePanelDelegate::restoreSuggestedFilename() {
    ++resolutionGeneration_;
    cancelPendingResolution();
    seedFilename_ = suggestedFilename_;
    lastAutomaticallyAppliedFilename_ = suggestedFilename_;
    isAutomaticallyManaged_ = true;
    if (!filenameField_)
        return;
    filenameField_->setText(QString::fromStdString(basename(suggestedFilename_)));
    filenameField_->selectAll();
}

bool SequentialSavePanelDelegate::isEditingFilename() const {
    return panel_ && filenameField_ && filenameField_->hasFocus();
}

void SequentialSavePanelDelegate::panelDidChangeToDirectory(const QString& directory) {
    if (!filenameField_)
        return;
    adoptManualSeedIfNeeded(filenameField_->text().toStdString());
    if (!isEditingFilename() && romanInputSourceSession_)
        romanInputSourceSession_->selectRoman();
    scheduleResolution(directory);
}

// The field's focus is what a text field's editing session is elsewhere.
bool SequentialSavePanelDelegate::eventFilter(QObject* watched, QEvent* event) {
    // Compared as objects: a field being destroyed sends events too, and is no line edit by then.
    if (watched == filenameFieldObject_ && romanInputSourceSession_) {
        if (event->type() == QEvent::FocusIn)
            romanInputSourceSession_->restoreOriginal();
        else if (event->type() == QEvent::FocusOut && panel_)
            romanInputSourceSession_->selectRoman();
    }
    return QObject::eventFilter(watched, event);
}

void SequentialSavePanelDelegate::controlTextDidChange() {
    if (filenameField_)
        adoptManualSeedIfNeeded(filenameField_->text().toStdString());
}

std::string SequentialSavePanelDelegate::shownDirectory() const {
    return platform::standardizedPath(panel_->directory().absolutePath().toStdString());
}

void SequentialSavePanelDelegate::cancelPendingResolution() {
    if (pendingResolution_)
        pendingResolution_->store(true);
    pendingResolution_.reset();
}

void SequentialSavePanelDelegate::scheduleResolution(const std::optional<QString>& directory) {
    if (!panel_ || !directory)
        return;
    std::string path = platform::standardizedPath(directory->toStdString());
    cancelPendingResolution();
    const std::uint64_t generation = ++resolutionGeneration_;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    pendingResolution_ = cancelled;
    // The pointer is copied here and only read again on the main thread.
    QPointer<SequentialSavePanelDelegate> delegate(this);
    resolutionQueue_.start([delegate = std::move(delegate), cancelled, resolve = resolve_,
                            seed = seedFilename_, path = std::move(path), generation]() mutable {
        if (cancelled->load())
            return;
        std::optional<std::string> name = resolve(seed, path);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [delegate = std::move(delegate), generation, path = std::move(path),
             name = std::move(name)] {
                if (delegate)
                    delegate->applyResolution(generation, path, name);
            },
            Qt::QueuedConnection);
    });
}

void SequentialSavePanelDelegate::applyResolution(std::uint64_t generation,
                                                  const std::string& directory,
                                                  const std::optional<std::string>& name) {
    if (generation != resolutionGeneration_ || !panel_ || shownDirectory() != directory || !name ||
        !filenameField_)
        return;
    const QString text = filenameField_->text();
    if (text.toStdString() != basename(lastAutomaticallyAppliedFilename_))
        return;
    lastAutomaticallyAppliedFilename_ = *name;
    isAutomaticallyManaged_ = true;
    const QString base = QString::fromStdString(basename(*name));
    if (text == base)
        return;
    // A name selected to be typed over stays selected.
    const bool wholeNameSelected = !text.isEmpty() && filenameField_->selectedText() == text;
    filenameField_->setText(base);
    if (wholeNameSelected)
        filenameField_->selectAll();
}

void SequentialSavePanelDelegate::adoptManualSeedIfNeeded(const std::string& text) {
    if (text == basename(lastAutomaticallyAppliedFilename_))
        return;
    // Made safe at once, as the final name will be: a "/" typed on the way to "12/07" must not
    // leave "12/.png" as the seed, whose last component reads as a dot-file with no extension.
    std::string typed = safeFilename(
        SavePanelFilenamePresentation(lastAutomaticallyAppliedFilename_).fullFilename(text),
        lastAutomaticallyAppliedFilename_);
    ++resolutionGeneration_;
    cancelPendingResolution();
    seedFilename_ = typed;
    lastAutomaticallyAppliedFilename_ = std::move(typed);
    isAutomaticallyManaged_ = false;
}

} // namespace brindle
