#pragma once

#include <QApplication>

#include <memory>

namespace brindle {

/// The application on the desktop's display, or nothing when no display answers: a DISPLAY that
/// points nowhere or a WAYLAND_DISPLAY without a compositor, where Qt itself would abort. The
/// platform Qt would pick, or the one QT_QPA_PLATFORM names, is tried first; one that draws
/// without a display is used only when asked for by name.
std::unique_ptr<QApplication> openDisplay(int& argc, char** argv);

} // namespace brindle
