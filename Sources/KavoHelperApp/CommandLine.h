#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace brindle {

/// What the companion is asked to do:
/// kavo-helper [--terminal] [--connect | --disconnect | --status | --uninstall | --help |
/// --version]
struct CommandLine {
    enum class Action { start, connect, disconnect, status, uninstall, help, version };

    Action action = Action::start;
    bool terminal = false;

    /// Starting and connecting show the window where there is a display; the other actions
    /// report in the terminal, where they were asked for.
    bool wantsWindow() const {
        return !terminal && (action == Action::start || action == Action::connect);
    }
};

/// The command line of argv[1...]; nothing for an unknown argument or a second action.
std::optional<CommandLine> parseCommandLine(const std::vector<std::string_view>& arguments);

/// How to call the companion, ending in a line feed.
extern const char* const commandLineUsage;

} // namespace brindle
