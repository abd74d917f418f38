#pragma once

#include <QRect>

#include <chrono>
#include <functional>
#include <optional>

class QObject;
class QWidget;

namespace brindle {

/// What the save panel asks of the desktop and of the clock. The application uses this class as
/// it is; tests replace the clock and the desktop's answers.
class SavePanelDesktop {
public:
    virtual ~SavePanelDesktop() = default;

    /// One of this application's windows has the keyboard focus.
    virtual bool isActive() const;

    /// The window is shown, is the one with the keyboard focus and is not covered up entirely.
    virtual bool isShownInFront(const QWidget& window) const;

    /// Shows the window, raises it and asks the desktop to give it the keyboard focus.
    virtual void activate(QWidget& window);

    /// The free area of the screen under the mouse pointer.
    virtual std::optional<QRect> screenFrameContainingPointer() const;

    /// The free area of the screen the window is on, else of the primary screen.
    virtual std::optional<QRect> screenFrameOf(const QWidget& window) const;

    /// Runs `step` on the main thread after `delay`, unless `context` is gone by then.
    virtual void after(std::chrono::milliseconds delay, QObject* context,
                       std::function<void()> step);

    /// Ends the event loop at once; no window is asked whether it may close.
    virtual void terminate();
};

} // namespace brindle
