#include "AppKitUIUtilities/StandardApplicationMenu.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace brindle::StandardApplicationMenu {

namespace {

// The focused widget's own slot of that name, as a first responder would take the command.
void sendToFocusedWidget(const char* slot) {
    QWidget* widget = QApplication::focusWidget();
    if (widget != nullptr &&
        widget->metaObject()->indexOfMethod(QByteArray(slot).append("()").constData()) >= 0)
        QMetaObject::invokeMethod(widget, slot);
}

void addEditItem(QMenu& menu, const QString& title, const char* slot, const QKeySequence& keys) {
    QAction* action = menu.addAction(title);
    action->setObjectName(QString::fromLatin1(slot) + u':');
    action->setShortcut(keys);
    QObject::connect(action, &QAction::triggered, action, [slot] { sendToFocusedWidget(slot); });
}

} // namespace

std::unique_ptr<QMenuBar> make(const QString& applicationName) {
    auto bar = std::make_unique<QMenuBar>();
    QMenu* application = bar->addMenu(applicationName);
    QAction* quit = application->addAction(QStringLiteral("退出 ") + applicationName);
    quit->setObjectName(QStringLiteral("terminate:"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QObject::connect(quit, &QAction::triggered, quit, [] { QCoreApplication::exit(0); });

    QMenu* edit = bar->addMenu(QStringLiteral("编辑"));
    addEditItem(*edit, QStringLiteral("撤销"), "undo", QKeySequence(Qt::CTRL | Qt::Key_Z));
    addEditItem(*edit, QStringLiteral("重做"), "redo",
                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    edit->addSeparator();
    addEditItem(*edit, QStringLiteral("剪切"), "cut", QKeySequence(Qt::CTRL | Qt::Key_X));
    addEditItem(*edit, QStringLiteral("复制"), "copy", QKeySequence(Qt::CTRL | Qt::Key_C));
    addEditItem(*edit, QStringLiteral("粘贴"), "paste", QKeySequence(Qt::CTRL | Qt::Key_V));
    edit->addSeparator();
    addEditItem(*edit, QStringLiteral("全选"), "selectAll", QKeySequence(Qt::CTRL | Qt::Key_A));
    return bar;
}

void install(QMainWindow& window, const QString& applicationName) {
    window.setMenuBar(make(applicationName).release());
}

} // namespace brindle::StandardApplicationMenu
