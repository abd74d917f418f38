#include "SavePanelUIHelper/SavePanelAppDelegate.h"

#include "AppKitUIUtilities/StandardApplicationMenu.h"
#include "Platform/Files.h"
#include "Platform/PathsAndText.h"
#include "SavePanelUIHelper/HelperArguments.h"
#include "SavePanelUIHelper/PanelPlacement.h"
#include "SavePanelUIHelper/SavePanelActivationService.h"
#include "SavePanelUIHelper/SavePanelText.h"
#include "SmartSaveUIBridge/SequentialFilenameResolver.h"

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QTreeView>
#include <QVBoxLayout>

namespace brindle {

namespace {

using namespace std::chrono_literals;

constexpr auto activationRetryInterval = 250ms;
constexpr int maximumActivationAttempts = 24;
constexpr auto firstVisibilityCheckDelay = 250ms;
constexpr auto visibilityCheckInterval = 250ms;
constexpr int visibilityRechecks = 19;
constexpr auto resignActiveGrace = 50ms;
constexpr auto activationWatchdog = 8s;
constexpr std::int64_t maximumSequenceNumber = 100'000;
constexpr QSize initialWindowSize{820, 560};

QString qText(const std::string& text) {
    return QString::fromStdString(text);
}

SmartSavePanelResponse failure(std::string message) {
    return SmartSavePanelResponse(SmartSavePanelOutcome::failed, std::nullopt, std::nullopt,
                                  std::move(message));
}

SmartSavePanelResponse selection(const std::string& path, bool replaceApproved = false) {
    return SmartSavePanelResponse(SmartSavePanelOutcome::selected, platform::standardizedPath(path),
                                  std::nullopt, std::nullopt, replaceApproved);
}

// Where the panel opens when the request names no usable folder: the user's Downloads folder,
// else the home folder; never the working folder the host happened to start in. A Downloads
// folder that is a link (common on Linux) is the user's own arrangement and is followed, to a
// folder the user owns.
std::optional<std::string> fallbackDirectory() {
    const QStringList downloads =
        QStandardPaths::standardLocations(QStandardPaths::DownloadLocation);
    if (!downloads.isEmpty()) {
        if (auto direct = safeDirectoryPath(downloads.first().toStdString()))
            return direct;
        const std::string resolved = QFileInfo(downloads.first()).canonicalFilePath().toStdString();
        if (const auto status = platform::fileStatusAtPath(resolved);
            !resolved.empty() && status && status->isOwnDirectory())
            return resolved;
    }
    return safeDirectoryPath(QDir::homePath().toStdString());
}

// The selected folder, else the folder on show: the first of them that is a folder now.
std::optional<std::string> selectedDirectory(const QFileDialog& panel) {
    std::vector<QString> candidates;
    if (const QStringList selected = panel.selectedFiles(); !selected.isEmpty())
        candidates.push_back(selected.first());
    candidates.push_back(panel.directory().absolutePath());
    for (const QString& candidate : candidates) {
        std::string path = platform::standardizedPath(candidate.toStdString());
        if (const auto status = platform::fileStatusFollowingLinks(path);
            status && status->isDirectory())
            return path;
    }
    return std::nullopt;
}

// A name that is a folder's (or a link's to one) opens that folder, as the desktop's own save
// dialogs do: nothing is ever saved over a folder.
// The name is tried as it would be saved and as it was typed, without the extension.
bool openFolderNamed(QFileDialog& panel, const std::vector<std::string>& names,
                     SequentialSavePanelDelegate& filenameDelegate) {
    const auto directory = selectedDirectory(panel);
    if (!directory)
        return false;
    for (const std::string& name : names) {
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
            continue;
        const std::string target = platform::appendingPathComponent(*directory, name);
        const auto status = platform::fileStatusFollowingLinks(target);
        if (!status || !status->isDirectory())
            continue;
        filenameDelegate.restoreSuggestedFilename();
        panel.setDirectory(QString::fromStdString(target));
        return true;
    }
    return false;
}

// Files are shown, greyed out, so that the names already taken can be seen; only folders can be
// chosen.
class FoldersChosenOnly : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        Qt::ItemFlags flags = QSortFilterProxyModel::flags(index);
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (files != nullptr && !files->isDir(mapToSource(index)))
            flags &= ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        return flags;
    }
};

// The chooser's own confirmation would refuse a folder deleted meanwhile with a message box of
// its own; the completion handler judges the folder instead.
class FolderChooser : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    void accept() override { QDialog::accept(); }
    // Stays on show, behind a clash alert; the answer ends the application anyway.
    void done(int result) override {
        setResult(result);
        emit finished(result);
    }
};

} // namespace

SavePanelAppDelegate::SavePanelAppDelegate(SmartSavePanelRequest request, std::string responsePath,
                                           SavePanelDesktop& desktop,
                                           SequentialSavePanelDelegate::Resolve resolve)
    : request_(std::move(request)), responsePath_(std::move(responsePath)), desktop_(desktop),
      resolve_(resolve ? std::move(resolve) : SequentialSavePanelDelegate::resolveInFolder) {
    // Floats above ordinary windows, as a modal panel does.
    window_.setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint);
    window_.setObjectName(QStringLiteral("savePanelWindow"));
    window_.resize(initialWindowSize);
    auto* content = new QWidget(&window_);
    auto* layout = new QVBoxLayout(content);
    auto* message = new QLabel(content);
    message->setObjectName(QStringLiteral("savePanelMessageLabel"));
    // Texts that come from a web page are shown as the characters they are, never as markup.
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    layout->addWidget(message);
    window_.setCentralWidget(content);
    StandardApplicationMenu::install(window_, QStringLiteral("Kavo"));
    window_.installEventFilter(this);
}

// The panel goes with the window; the name's delegate lets go of it first.
SavePanelAppDelegate::~SavePanelAppDelegate() {
    if (filenameDelegate_)
        filenameDelegate_->shutDown();
}

void SavePanelAppDelegate::applicationDidFinishLaunching() {
    preferredScreenFrame_ = desktop_.screenFrameContainingPointer();
    if (const auto frame =
            preferredScreenFrame_ ? preferredScreenFrame_ : desktop_.screenFrameOf(window_)) {
        // A small screen gets a smaller window, never one cut off at its edges.
        window_.resize(initialWindowSize.boundedTo(frame->size()));
        window_.move(placedOrigin(*frame, window_.size()));
    }
    activationService_ = std::make_unique<SavePanelActivationService>(
        [this] {
            if (!finished_)
                desktop_.activate(window_);
        },
        [this] { handleSavePanelActivationRequest(); });
    scheduleForegroundActivation();
    schedulePresentation();
    desktop_.after(activationWatchdog, this, [this] {
        if (!presenting_ && !finished_)
            finish(failure("Chrome 没能激活保存窗口，请重试"));
    });
}

void SavePanelAppDelegate::scheduleForegroundActivation() {
    if (presenting_ || finished_)
        return;
    if (desktop_.isActive()) {
        schedulePresentation();
        return;
    }
    if (activationAttempts_ >= maximumActivationAttempts)
        return;
    ++activationAttempts_;
    desktop_.activate(window_);
    desktop_.after(activationRetryInterval, this, [this] { scheduleForegroundActivation(); });
}

void SavePanelAppDelegate::schedulePresentation() {
    if (presentationScheduled_ || presenting_ || finished_)
        return;
    presentationScheduled_ = true;
    desktop_.after(0ms, this, [this] { present(); });
}

void SavePanelAppDelegate::applicationDidBecomeActive() {
    ++activationTransitionGeneration_;
    if (presenting_)
        enforceInputSourceForCurrentResponder();
    else
        schedulePresentation();
}

void SavePanelAppDelegate::applicationDidResignActive() {
    if (!presenting_ || finished_)
        return;
    const std::uint64_t generation = ++activationTransitionGeneration_;
    desktop_.after(resignActiveGrace, this, [this, generation] {
        if (generation == activationTransitionGeneration_ && presenting_ && !finished_ &&
            !desktop_.isActive() && romanInputSourceSession_)
            romanInputSourceSession_->restoreOriginal();
    });
}

void SavePanelAppDelegate::applicationWillTerminate() {
    activationService_.reset();
}

// The panel is built as soon as the window can be shown, active or not: a desktop may refuse
// the focus (Wayland compositors do, to a window the user did not ask for), and a window shown
// without its panel would be an empty frame until the watchdog. The panel then keeps being
// brought forward like any other.
void SavePanelAppDelegate::present() {
    presentationScheduled_ = false;
    if (presenting_ || finished_)
        return;
    presenting_ = true;
    if (request_.kind != SmartSavePanelKind::chooseDestination) {
        finish(failure(SavePanelHelperError::unsupportedPanel().what()));
        return;
    }

    const QString title = qText(bounded(request_.panelTitle, "保存文件", 80));
    window_.setWindowTitle(title);
    window_.findChild<QLabel*>(QStringLiteral("savePanelMessageLabel"))
        ->setText(qText(bounded(request_.panelMessage, "请选择保存位置。", 240)));
    auto* panel = new FolderChooser(window_.centralWidget(), title);
    panel->setObjectName(QStringLiteral("savePanel"));
    panel->setWindowFlags(Qt::Widget);
    panel->setOptions(QFileDialog::DontUseNativeDialog);
    panel->setProxyModel(new FoldersChosenOnly(panel));
    panel->setFileMode(QFileDialog::Directory);
    // Names get the room the other columns leave, rather than being cut short beside empty
    // space.
    if (auto* details = panel->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        details->header()->setStretchLastSection(false);
        details->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        details->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    panel->setLabelText(QFileDialog::Accept, QStringLiteral("保存"));
    panel->setLabelText(QFileDialog::Reject, QStringLiteral("取消"));
    auto start = safeDirectoryPath(request_.directoryPath);
    if (!start)
        start = fallbackDirectory();
    if (start)
        panel->setDirectory(qText(*start));
    window_.centralWidget()->layout()->addWidget(panel);

    const std::string filename = safeFilename(request_.suggestedFilename, "整页截图.webp");
    QLineEdit& field = addAccessoryRow(*panel, filename);
    panel_ = panel;
    romanInputSourceSession_ =
        RomanInputSourceSession::make(request_.originalInputSourceIdentifier);
    filenameDelegate_ =
        std::make_shared<SequentialSavePanelDelegate>(filename, romanInputSourceSession_, resolve_);
    filenameDelegate_->attach(*panel, field);
    if (romanInputSourceSession_)
        romanInputSourceSession_->selectRoman();

    connect(panel, &QDialog::finished, this,
            [this, filename, filenameDelegate = filenameDelegate_,
             session = romanInputSourceSession_, panel = QPointer<QFileDialog>(panel),
             field = QPointer<QLineEdit>(&field)](int result) {
                panelDidComplete(result == QDialog::Accepted, filename, filenameDelegate, session,
                                 panel, field);
            });
    panel->show();
    // As a desktop's own save dialogs do: the name is ready to be typed over, the extension kept.
    field.setFocus();
    field.selectAll();
    desktop_.after(0ms, this, [this] { surfaceCurrentPanel(); });
    schedulePanelVisibilityRecovery();
}

// The row below the folders, where the chooser's own name row was: "保存为：", the base name, the
// extension.
QLineEdit& SavePanelAppDelegate::addAccessoryRow(QFileDialog& panel, const std::string& filename) {
    for (const char* own : {"fileNameLabel", "fileNameEdit", "fileTypeLabel", "fileTypeCombo"}) {
        if (auto* widget = panel.findChild<QWidget*>(QString::fromLatin1(own)))
            widget->hide();
    }
    const SavePanelFilenamePresentation presentation(filename);
    auto* row = new QWidget(&panel);
    row->setObjectName(QStringLiteral("saveAccessoryView"));
    row->setMinimumSize(520, 36);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(8, 0, 8, 0);
    layout->setSpacing(8);
    auto* label = new QLabel(QStringLiteral("保存为："), row);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFixedWidth(72);
    auto* field = new QLineEdit(qText(presentation.editableBasename()), row);
    field->setObjectName(QStringLiteral("saveFilenameField"));
    field->setAccessibleName(QStringLiteral("保存为"));
    field->setFixedHeight(24);
    auto* extension = new QLabel(qText(presentation.extensionWithDot()), row);
    extension->setObjectName(QStringLiteral("saveFilenameExtensionLabel"));
    extension->setTextFormat(Qt::PlainText);
    extension->setAccessibleName(QStringLiteral("文件扩展名"));
    extension->setFont(field->font());
    extension->setForegroundRole(QPalette::PlaceholderText);
    extension->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* stack = new QHBoxLayout;
    stack->setSpacing(4);
    stack->addWidget(field, 1);
    stack->addWidget(extension);
    layout->addWidget(label, 0, Qt::AlignVCenter);
    layout->addLayout(stack, 1);
    if (auto* grid = qobject_cast<QGridLayout*>(panel.layout()))
        grid->addWidget(row, 2, 0, 1, 2);
    else
        panel.layout()->addWidget(row);
    return *field;
}

void SavePanelAppDelegate::surfaceCurrentPanel() {
    if (!presenting_ || finished_ || !panel_)
        return;
    // Placed first, then raised and given the focus: the one call does both.
    if (const auto frame =
            preferredScreenFrame_ ? preferredScreenFrame_ : desktop_.screenFrameOf(window_))
        window_.move(placedOrigin(*frame, window_.frameGeometry().size()));
    desktop_.activate(window_);
    enforceInputSourceForCurrentResponder();
    desktop_.after(0ms, this, [this] { enforceInputSourceForCurrentResponder(); });
}

void SavePanelAppDelegate::schedulePanelVisibilityRecovery() {
    const std::uint64_t generation = ++visibilityRecoveryGeneration_;
    desktop_.after(firstVisibilityCheckDelay, this,
                   [this, generation] { checkPanelVisibility(0, generation); });
}

void SavePanelAppDelegate::checkPanelVisibility(int attempt, std::uint64_t generation) {
    if (visibilityRecoveryGeneration_ != generation || finished_ || !panel_)
        return;
    if (desktop_.isActive() && desktop_.isShownInFront(window_))
        return;
    surfaceCurrentPanel();
    recoverPanelVisibility(attempt + 1, generation);
}

void SavePanelAppDelegate::recoverPanelVisibility(int attempt, std::uint64_t generation) {
    if (attempt > visibilityRechecks)
        return;
    desktop_.after(visibilityCheckInterval, this,
                   [this, attempt, generation] { checkPanelVisibility(attempt, generation); });
}

void SavePanelAppDelegate::handleSavePanelActivationRequest() {
    if (const auto frame = desktop_.screenFrameContainingPointer())
        preferredScreenFrame_ = frame;
    surfaceCurrentPanel();
}

void SavePanelAppDelegate::enforceInputSourceForCurrentResponder() {
    if (!romanInputSourceSession_)
        return;
    if (desktop_.isActive() && !(filenameDelegate_ && filenameDelegate_->isEditingFilename()))
        romanInputSourceSession_->selectRoman();
    else
        romanInputSourceSession_->restoreOriginal();
}

void SavePanelAppDelegate::panelDidComplete(
    bool confirmed, const std::string& filename,
    const std::shared_ptr<SequentialSavePanelDelegate>& filenameDelegate,
    const std::shared_ptr<RomanInputSourceSession>& session, const QPointer<QFileDialog>& panel,
    const QPointer<QLineEdit>& field) {
    if (panel_ != panel)
        return; // it stays on show, and completes once
    const std::string chosen = safeFilename(
        field ? SavePanelFilenamePresentation(filenameDelegate->lastAutomaticallyAppliedFilename())
                    .fullFilename(field->text().toStdString())
              : filenameDelegate->seedFilename(),
        filename);
    const std::string typed =
        field ? platform::trimmingWhitespaceAndNewlines(field->text().toStdString()) : "";
    if (confirmed && panel && openFolderNamed(*panel, {chosen, typed}, *filenameDelegate))
        return;
    ++visibilityRecoveryGeneration_;
    const bool isAutomaticallyManaged = filenameDelegate->isAutomaticallyManaged();
    filenameDelegate->shutDown();
    if (session)
        session->restoreOriginal();
    filenameDelegate_.reset();
    romanInputSourceSession_.reset();
    panel_ = nullptr;
    if (const auto directory = confirmed && panel ? selectedDirectory(*panel) : std::nullopt)
        finishSelectingDestination(*directory, chosen, isAutomaticallyManaged);
    else
        finish(SmartSavePanelResponse(SmartSavePanelOutcome::cancelled));
}

void SavePanelAppDelegate::finishSelectingDestination(const std::string& directory,
                                                      const std::string& filename,
                                                      bool isAutomaticallyManaged) {
    const std::string target = platform::appendingPathComponent(directory, filename);
    // A dangling link is something there too: nothing is ever written through it.
    if (!platform::fileStatusAtPath(target))
        finish(selection(target));
    else if (isAutomaticallyManaged)
        finishWithFreeName(directory, filename);
    else
        askAboutExistingFile(directory, filename);
}

void SavePanelAppDelegate::finishWithFreeName(const std::string& directory,
                                              const std::string& filename) {
    try {
        const std::string free =
            SequentialFilenameResolver().resolve(filename, directory, maximumSequenceNumber);
        finish(selection(platform::appendingPathComponent(directory, free)));
    } catch (const std::exception& error) {
        finish(failure(error.what()));
    }
}

void SavePanelAppDelegate::askAboutExistingFile(const std::string& directory,
                                                const std::string& filename) {
    auto* alert =
        new QMessageBox(QMessageBox::Warning, window_.windowTitle(),
                        qText("“" + filename + "”已存在"), QMessageBox::NoButton, &window_);
    alert->setObjectName(QStringLiteral("saveClashAlert"));
    alert->setTextFormat(Qt::PlainText);
    alert->setInformativeText(QStringLiteral("可以替换现有文件，或使用下一个可用名称。"));
    QPushButton* keepBoth = alert->addButton(QStringLiteral("保留两者"), QMessageBox::AcceptRole);
    QPushButton* replace = alert->addButton(QStringLiteral("替换"), QMessageBox::DestructiveRole);
    QPushButton* cancel = alert->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    alert->setDefaultButton(keepBoth);
    alert->setEscapeButton(cancel);
    alert->setWindowModality(Qt::ApplicationModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::finished, this,
            [this, alert, keepBoth, replace, directory, filename] {
                if (alert->clickedButton() == keepBoth)
                    finishWithFreeName(directory, filename);
                else if (alert->clickedButton() == replace)
                    finish(selection(platform::appendingPathComponent(directory, filename), true));
                else
                    finish(SmartSavePanelResponse(SmartSavePanelOutcome::cancelled));
            });
    alert->show();
}

void SavePanelAppDelegate::finish(const SmartSavePanelResponse& response) {
    if (finished_)
        return;
    finished_ = true;
    ++visibilityRecoveryGeneration_;
    ++activationTransitionGeneration_;
    if (romanInputSourceSession_) {
        romanInputSourceSession_->restoreOriginal();
        romanInputSourceSession_.reset();
    }
    activationService_.reset();
    try {
        SmartSavePanelMessageCodec::writeResponse(response, responsePath_);
    } catch (const std::exception&) {
        // The host then finds no response and says so.
    }
    desktop_.terminate();
}

// Closing the window is the panel's cancel; before there is a panel, the same answer.
bool SavePanelAppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && event->type() == QEvent::Close && !finished_) {
        event->ignore();
        if (panel_)
            panel_->reject();
        else
            finish(SmartSavePanelResponse(SmartSavePanelOutcome::cancelled));
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace brindle
