#pragma once

#include <string>

namespace brindle {

/// Whether the browsers can start the host of this bundle.
struct CompanionConnectionState {
    enum class Kind { needsRepair, connected, disconnected };

    static CompanionConnectionState needsRepair(std::string reason) {
        return {Kind::needsRepair, std::move(reason)};
    }
    static CompanionConnectionState connected() { return {Kind::connected, {}}; }
    static CompanionConnectionState disconnected() { return {Kind::disconnected, {}}; }

    Kind kind = Kind::disconnected;
    std::string reason; // what to show for `needsRepair`
    bool operator==(const CompanionConnectionState&) const = default;
};

/// One browser's connection, judged the way that browser reads its manifest.
struct BrowserConnection {
    std::string name;
    std::string manifest; // where the browser looks for the host's manifest
    CompanionConnectionState state;
    bool operator==(const BrowserConnection&) const = default;
};

/// "Google Chrome：已连接", or the browser's other state in words.
std::string describeConnection(const BrowserConnection& browser);

} // namespace brindle
