#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindle {

/// Switches the keyboard to a Roman (ASCII-capable) input source while the user browses folders,
/// and back to the user's own source while a name is typed and when the panel goes away. A
/// session that never switched to Roman never touches the user's source.
class RomanInputSourceSession {
public:
    /// Each action says whether it succeeded.
    using Action = std::function<bool()>;

    RomanInputSourceSession(Action selectRoman, Action restoreOriginal);

    /// A session on the desktop's input sources, restoring the enabled source named by
    /// `originalInputSourceIdentifier` or else the one current now. None when the desktop names
    /// no current or no ASCII-capable source, which Linux desktops never do.
    static std::shared_ptr<RomanInputSourceSession>
    make(const std::optional<std::string>& originalInputSourceIdentifier);

    void selectRoman();
    void restoreOriginal();

    /// Switched to Roman and not yet back: a switch back is owed.
    bool isRomanSelected() const noexcept { return isRomanSelected_; }

private:
    static std::optional<std::string> inputSource(const std::optional<std::string>& identifier);

    Action selectRomanAction_;
    Action restoreOriginalAction_;
    bool isRomanSelected_ = false;
};

} // namespace brindle
