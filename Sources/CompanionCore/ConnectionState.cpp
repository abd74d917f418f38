#include "CompanionCore/ConnectionState.h"

namespace brindle {

std::string describeConnection(const BrowserConnection& browser) {
    switch (browser.state.kind) {
    case CompanionConnectionState::Kind::connected:
        return browser.name + "：已连接";
    case CompanionConnectionState::Kind::disconnected:
        return browser.name + "：尚未连接";
    case CompanionConnectionState::Kind::needsRepair:
        break;
    }
    return browser.name + "：连接需要修复（" + browser.state.reason + "）";
}

} // namespace brindle
