#include "KavoHelperApp/ViewState.h"

namespace brindle {

ViewPresentation presentation(const ViewState& state) {
    using Colour = ViewPresentation::Colour;
    switch (state.kind) {
    case ViewState::Kind::connected:
        return {"checkmark.circle.fill",
                "✓",
                Colour::green,
                "本机助手已连接",
                "Chrome 扩展可以使用完整能力 · 助手版本 " + state.text,
                "重新检查连接",
                true,
                true};
    case ViewState::Kind::needsRepair:
        return {"wrench.and.screwdriver.fill",
                "⚒",
                Colour::orange,
                "连接需要修复",
                state.text,
                "修复连接",
                true,
                false};
    case ViewState::Kind::working:
        return {"arrow.triangle.2.circlepath", "↻",         Colour::accent, state.text,
                "请不要关闭Kavo助手。",        "正在处理…", false,          false};
    case ViewState::Kind::failed:
        return {"exclamationmark.triangle.fill",
                "!",
                Colour::red,
                "没有完成",
                state.text,
                "重试",
                true,
                false};
    case ViewState::Kind::checking:
        return {"hourglass",
                "⌛",
                Colour::secondary,
                "正在检查连接",
                "正在确认本机组件可以正常启动，最多需要几秒钟。",
                "请稍候",
                false,
                false};
    case ViewState::Kind::readyToInstall:
        return {"arrow.down.app.fill",
                "↓",
                Colour::accent,
                "准备安装到这台电脑",
                "点击一次即可安装到 ~/Applications 并连接 Chrome。",
                "安装并连接",
                true,
                false};
    case ViewState::Kind::disconnected:
        return {"link.badge.plus",
                "+",
                Colour::orange,
                "尚未连接 Chrome",
                "助手已安装。连接后，Chrome 扩展即可使用全部本机能力。",
                "连接 Chrome",
                true,
                false};
    }
    return {};
}

} // namespace brindle
