#include "KavoHelperApp/HelperWindowController.h"

#include "CompanionCore/NativeHostProbe.h"
#include "MetadataCore/ProductInfo.h"
#include "Platform/PathsAndText.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QFrame>
#include <QFutureWatcher>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace brindle {

namespace {

constexpr int windowWidth = 520;
constexpr int windowHeight = 452;
constexpr int smallestWidth = 480;
constexpr int smallestHeight = 430;
constexpr int fadeMilliseconds = 180;
constexpr qreal fadeStartOpacity = 0.72;
constexpr const char* supportPage = "https://www.vantle.com/kavo/support";

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Every text here may carry a path or a message from elsewhere: none is ever read as markup.
QLabel* plainLabel(const QString& text = {}) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// Each browser's state and what to do about a sandboxed one, a line each.
QString browserLines(const CompanionInstaller& installer) {
    QStringList lines;
    for (const BrowserConnection& browser : installer.browserConnections())
        lines << fromUtf8(describeConnection(browser));
    for (const SandboxedBrowser& browser : installer.sandboxedBrowsersPresent())
        lines << fromUtf8(sandboxNotice(browser));
    return lines.join('\n');
}

QColor colourOf(ViewPresentation::Colour colour, const QPalette& palette) {
    switch (colour) {
    case ViewPresentation::Colour::green:
        return {0x2e, 0x9d, 0x4a};
    case ViewPresentation::Colour::orange:
        return {0xe8, 0x89, 0x0c};
    case ViewPresentation::Colour::red:
        return {0xd9, 0x3a, 0x2b};
    case ViewPresentation::Colour::accent:
        return palette.color(QPalette::Highlight);
    case ViewPresentation::Colour::secondary:
        return palette.color(QPalette::PlaceholderText);
    }
    return palette.color(QPalette::WindowText);
}

// The desktop has no shared symbol set to rely on: each state gets a round badge in its colour
// with a glyph that every font here has.
QPixmap badge(const QString& glyph, const QColor& colour, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    // No font here has an hourglass: that one is drawn.
    if (glyph == "⌛") {
        const auto at = [size](qreal x, qreal y) { return QPointF(x * size, y * size); };
        painter.setBrush(Qt::white);
        painter.drawPolygon(QPolygonF({at(0.32, 0.26), at(0.68, 0.26), at(0.5, 0.5), at(0.68, 0.74),
                                       at(0.32, 0.74), at(0.5, 0.5)}));
        return pixmap;
    }
    QFont font = painter.font();
    font.setPixelSize(size * 3 / 5);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, glyph);
    return pixmap;
}

QPixmap applicationIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 0, size);
    gradient.setColorAt(0, QColor(0x4f, 0x8e, 0xf7));
    gradient.setColorAt(1, QColor(0x24, 0x56, 0xc9));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRoundedRect(QRectF(0, 0, size, size), size * 0.22, size * 0.22);
    QFont font = painter.font();
    font.setPixelSize(size * 3 / 5);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, "K");
    return pixmap;
}

QString firstExecutable(const QStringList& names) {
    for (const QString& name : names) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

} // namespace

DesktopServices DesktopServices::standard() {
    DesktopServices services;
    services.launch = [](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setProgram(program);
        process.setArguments(arguments);
        return process.startDetached() ? QString() : process.errorString();
    };
    services.findChrome = [] {
        return firstExecutable(
            {"google-chrome", "google-chrome-stable", "chromium", "chromium-browser"});
    };
    services.open = [](const QString& urlOrPath) {
        const QUrl url =
            urlOrPath.startsWith('/') ? QUrl::fromLocalFile(urlOrPath) : QUrl(urlOrPath);
        QDesktopServices::openUrl(url);
    };
    services.quit = [] { QCoreApplication::quit(); };
    services.animationsEnabled = desktopAnimationsEnabled();
    return services;
}

bool desktopAnimationsEnabled() {
    const QString gsettings = QStandardPaths::findExecutable("gsettings");
    if (gsettings.isEmpty())
        return true;
    QProcess process;
    process.start(gsettings, {"get", "org.gnome.desktop.interface", "enable-animations"});
    if (!process.waitForFinished(1000)) {
        process.kill();
        process.waitForFinished();
        return true;
    }
    return process.readAllStandardOutput().trimmed() != "false";
}

HelperWindowController::HelperWindowController(CompanionInstaller installer,
                                               DesktopServices desktop)
    : installer_(std::move(installer)), desktop_(std::move(desktop)) {
    setWindowTitle(fromUtf8(KavoProduct::companionDisplayName));
    setWindowIcon(QIcon(applicationIcon(128)));
    resize(windowWidth, windowHeight);
    setMinimumSize(smallestWidth, smallestHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 16);
    layout->setSpacing(10);

    iconView_ = plainLabel();
    iconView_->setPixmap(applicationIcon(64));
    iconView_->setAlignment(Qt::AlignCenter);
    auto* heading = plainLabel(fromUtf8(KavoProduct::companionDisplayName));
    QFont headingFont = heading->font();
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.6);
    headingFont.setBold(true);
    heading->setFont(headingFont);
    heading->setAlignment(Qt::AlignCenter);
    auto* introduction = plainLabel("连接 Chrome 扩展与这台电脑，解锁视频合并、\n"
                                    "无损 WebP 和来源信息写入。");
    introduction->setAlignment(Qt::AlignCenter);
    layout->addWidget(iconView_);
    layout->addWidget(heading);
    layout->addWidget(introduction);

    statusCard_ = new QFrame;
    statusCard_->setObjectName("statusCard");
    statusCard_->setFrameShape(QFrame::StyledPanel);
    statusCard_->setStyleSheet("#statusCard { border-radius: 10px; }");
    auto* card = new QHBoxLayout(statusCard_);
    card->setContentsMargins(16, 14, 16, 14);
    card->setSpacing(14);
    statusSymbol_ = plainLabel();
    statusSymbol_->setFixedSize(40, 40);
    auto* texts = new QVBoxLayout;
    statusTitle_ = plainLabel();
    QFont titleFont = statusTitle_->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    statusTitle_->setFont(titleFont);
    statusDescription_ = plainLabel();
    statusDescription_->setWordWrap(true);
    statusDescription_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    texts->addWidget(statusTitle_);
    texts->addWidget(statusDescription_);
    card->addWidget(statusSymbol_, 0, Qt::AlignTop);
    card->addLayout(texts, 1);
    cardOpacity_ = new QGraphicsOpacityEffect(statusCard_);
    cardOpacity_->setOpacity(1.0);
    statusCard_->setGraphicsEffect(cardOpacity_);
    cardFade_ = new QPropertyAnimation(cardOpacity_, "opacity", this);
    cardFade_->setDuration(fadeMilliseconds);
    cardFade_->setStartValue(fadeStartOpacity);
    cardFade_->setEndValue(1.0);
    layout->addSpacing(6);
    layout->addWidget(statusCard_);
    browsers_ = plainLabel();
    browsers_->setWordWrap(true);
    browsers_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    browsers_->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(browsers_);

    primaryButton_ = new QPushButton;
    primaryButton_->setDefault(true);
    primaryButton_->setMinimumHeight(34);
    chromeButton_ = new QPushButton("打开 Chrome 扩展管理");
    disconnectButton_ = new QPushButton("断开本机连接");
    connect(primaryButton_, &QPushButton::clicked, this, &HelperWindowController::primaryAction);
    connect(chromeButton_, &QPushButton::clicked, this, &HelperWindowController::openChrome);
    connect(disconnectButton_, &QPushButton::clicked, this, &HelperWindowController::disconnect);
    for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this, [this] {
            if (primaryButton_->isEnabled())
                primaryAction();
        });
    }
    layout->addWidget(primaryButton_);
    layout->addWidget(chromeButton_);
    layout->addWidget(disconnectButton_);
    layout->addStretch(1);

    auto* links = new QHBoxLayout;
    links->addStretch(1);
    links->addWidget(linkButton("第三方许可", &HelperWindowController::openLicences));
    links->addWidget(linkButton("帮助与支持", &HelperWindowController::openSupport));
    links->addStretch(1);
    layout->addLayout(links);
    auto* version = plainLabel("版本 " + fromUtf8(KavoProduct::version));
    version->setAlignment(Qt::AlignCenter);
    version->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(version);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    render(ViewState::checking(), false);
}

QPushButton* HelperWindowController::linkButton(const QString& title,
                                                void (HelperWindowController::*action)()) {
    auto* button = new QPushButton(title);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet("QPushButton { border: none; color: palette(link); font-size: 11px; }");
    connect(button, &QPushButton::clicked, this, action);
    return button;
}

qreal HelperWindowController::statusCardOpacity() const {
    return cardOpacity_->opacity();
}

void HelperWindowController::start(bool connectRequested) {
    const bool stable = installer_.isInStableApplicationsDirectory();
    if (connectRequested && stable) {
        performConnection();
        return;
    }
    if (!stable) {
        render(ViewState::readyToInstall(), true);
        return;
    }
    const CompanionConnectionState connection = installer_.connectionState();
    switch (connection.kind) {
    case CompanionConnectionState::Kind::connected:
        probeHost();
        break;
    case CompanionConnectionState::Kind::disconnected:
        render(ViewState::disconnected(), true);
        break;
    case CompanionConnectionState::Kind::needsRepair:
        render(ViewState::needsRepair(QString::fromStdString(connection.reason)), true);
        break;
    }
}

void HelperWindowController::render(const ViewState& state, bool animated) {
    state_ = state;
    const ViewPresentation shown = presentation(state);
    statusSymbol_->setPixmap(badge(shown.glyph, colourOf(shown.colour, palette()), 40));
    statusSymbol_->setObjectName(shown.symbol);
    statusSymbol_->setAccessibleDescription(shown.title);
    statusTitle_->setText(shown.title);
    statusDescription_->setText(shown.detail);
    primaryButton_->setText(shown.primaryTitle);
    primaryButton_->setEnabled(shown.primaryEnabled);
    disconnectButton_->setVisible(shown.disconnectVisible);
    // What the browsers' folders say now; unchanged while work on them is under way.
    if (shown.primaryEnabled)
        browsers_->setText(browserLines(installer_));
    cardFade_->stop();
    if (animated && desktop_.animationsEnabled) {
        cardOpacity_->setOpacity(fadeStartOpacity);
        cardFade_->start();
    } else {
        cardOpacity_->setOpacity(1.0);
    }
}

// The work runs on the global pool; what it hands back runs here on the main thread. A window
// that is gone by then takes its watcher with it, and the result is dropped.
void HelperWindowController::runInBackground(std::function<ViewState()> work,
                                             std::function<void(ViewState)> done) {
    auto* watcher = new QFutureWatcher<ViewState>(this);
    connect(watcher, &QFutureWatcher<ViewState>::finished, this, [watcher, done] {
        done(watcher->result());
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run(std::move(work)));
}

void HelperWindowController::primaryAction() {
    if (installer_.isInStableApplicationsDirectory()) {
        performConnection();
        return;
    }
    render(ViewState::working("正在安装助手"), true);
    auto installed = std::make_shared<std::string>();
    runInBackground(
        [installer = installer_, installed] {
            try {
                *installed = installer.installOrUpdateApplication();
                return ViewState::working("正在安装助手");
            } catch (const std::exception& error) {
                return ViewState::failed(QString::fromUtf8(error.what()));
            }
        },
        [this, installed](const ViewState& result) {
            if (installed->empty())
                render(result, true);
            else
                relaunch(*installed);
        });
}

void HelperWindowController::performConnection() {
    render(ViewState::working("正在连接 Chrome"), true);
    runInBackground(
        [installer = installer_] {
            try {
                installer.connect();
                // What the browsers will find is checked before the host is.
                if (const auto state = installer.connectionState();
                    state.kind != CompanionConnectionState::Kind::connected)
                    return ViewState::failed(fromUtf8(state.reason));
                return ViewState::connected(
                    QString::fromStdString(NativeHostProbe::version(installer.hostURL())));
            } catch (const std::exception& error) {
                return ViewState::failed(QString::fromUtf8(error.what()));
            }
        },
        [this](const ViewState& result) { render(result, true); });
}

void HelperWindowController::probeHost() {
    render(ViewState::checking(), true);
    runInBackground(
        [host = installer_.hostURL()] {
            try {
                return ViewState::connected(QString::fromStdString(NativeHostProbe::version(host)));
            } catch (const std::exception& error) {
                return ViewState::needsRepair(QString::fromUtf8(error.what()));
            }
        },
        [this](const ViewState& result) { render(result, true); });
}

// The installed copy's path is UTF-8: an install into a place whose name is not has been refused.
void HelperWindowController::relaunch(const std::string& bundle) {
    const QString program =
        fromUtf8(CompanionInstaller(bundle, installer_.paths()).companionExecutableURL());
    const QString error = desktop_.launch(program, {"--connect"});
    if (!error.isEmpty()) {
        render(ViewState::failed(error), true);
        return;
    }
    desktop_.quit();
}

void HelperWindowController::openChrome() {
    const QString chrome = desktop_.findChrome();
    if (chrome.isEmpty()) {
        render(ViewState::failed("没有找到 Google Chrome。请先安装或打开 Chrome。"), true);
        return;
    }
    const QString error = desktop_.launch(
        chrome, {"chrome://extensions/?id=" + fromUtf8(KavoProduct::productionExtensionID)});
    if (!error.isEmpty())
        render(ViewState::failed(error), true);
}

void HelperWindowController::disconnect() {
    try {
        installer_.disconnect();
        // A browser may still start the host through the package's system-wide manifest: what
        // is shown is judged afresh, never assumed.
        start(false);
    } catch (const std::exception& error) {
        render(ViewState::failed(QString::fromUtf8(error.what())), true);
    }
}

void HelperWindowController::openSupport() {
    desktop_.open(supportPage);
}

void HelperWindowController::openLicences() {
    const QString notices = QString::fromStdString(platform::appendingPathComponent(
        installer_.bundleURL(), "Contents/Resources/Third-Party Notices.html"));
    if (QFileInfo::exists(notices))
        desktop_.open(notices);
}

} // namespace brindle
