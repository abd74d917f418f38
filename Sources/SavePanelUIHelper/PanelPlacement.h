#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>
#include <vector>

namespace brindle {

/// A screen as the panel's placement sees it: its whole area, and the part that panels, docks and
/// bars leave free, in the desktop's coordinates (y grows downwards).
struct ScreenArea {
    QRect frame;
    QRect visibleFrame;
};

/// The free area of the first screen, in the desktop's order, whose whole area holds `point`.
std::optional<QRect> visibleFrameContaining(QPoint point, const std::vector<ScreenArea>& screens);

/// Where a window of `size` goes in `frame`: centred, pushed inside, and against the left and
/// top edges when it is larger than the frame, so that its title bar stays within reach.
QPoint placedOrigin(const QRect& frame, QSize size);

} // namespace brindle
