#include "SavePanelUIHelper/PanelPlacement.h"

#include <algorithm>

namespace brindle {

std::optional<QRect> visibleFrameContaining(QPoint point, const std::vector<ScreenArea>& screens) {
    for (const ScreenArea& screen : screens) {
        if (screen.frame.contains(point))
            return screen.visibleFrame;
    }
    return std::nullopt;
}

QPoint placedOrigin(const QRect& frame, QSize size) {
    const auto along = [](int start, int length, int extent) {
        return std::min(std::max(start + (length - extent) / 2, start),
                        std::max(start, start + length - extent));
    };
    return {along(frame.x(), frame.width(), size.width()),
            along(frame.y(), frame.height(), size.height())};
}

} // namespace brindle
