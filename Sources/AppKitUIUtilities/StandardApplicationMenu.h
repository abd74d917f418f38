#pragma once

#include <QString>

#include <memory>

class QMainWindow;
class QMenuBar;

namespace brindle::StandardApplicationMenu {

/// The application's menu with its Quit item ("退出 " and the name, Ctrl+Q), then "编辑" with
/// undo, redo, cut, copy, paste and select all under their usual shortcuts. Each action's object
/// name is its command ("terminate:", "undo:", ...). Quitting ends the event loop at once, with
/// no window asked first; an editing command goes to whichever widget has the keyboard focus.
std::unique_ptr<QMenuBar> make(const QString& applicationName);

/// Makes it the window's menu bar (Linux has no menu bar of the application's own).
void install(QMainWindow& window, const QString& applicationName);

} // namespace brindle::StandardApplicationMenu
