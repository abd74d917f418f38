#include "KavoHelperApp/CommandLine.h"

#include <algorithm>
#include <array>
#include <utility>

namespace brindle {

const char* const commandLineUsage =
    "用法：kavo-helper [--terminal] [--connect | --disconnect | --status | --uninstall | --help | "
    "--version]\n"
    "  （不带操作）    安装到 ~/Applications 并连接浏览器；有显示器时在窗口中进行\n"
    "  --terminal     不打开窗口，在终端中进行\n"
    "  --connect      连接浏览器（新安装的副本启动时使用）\n"
    "  --disconnect   从各个浏览器删除连接文件\n"
    "  --status       显示各个浏览器的连接状态；全部已连接时退出状态为 0\n"
    "  --uninstall    断开连接，删除 ~/Applications 中的Kavo助手和应用菜单项\n"
    "  --help         显示这段说明\n"
    "  --version      显示版本\n";

std::optional<CommandLine> parseCommandLine(const std::vector<std::string_view>& arguments) {
    using enum CommandLine::Action;
    constexpr std::array<std::pair<std::string_view, CommandLine::Action>, 6> actions = {{
        {"--connect", connect},
        {"--disconnect", disconnect},
        {"--status", status},
        {"--uninstall", uninstall},
        {"--help", help},
        {"--version", version},
    }};
    CommandLine command;
    bool actionGiven = false;
    for (std::string_view argument : arguments) {
        if (argument == "--terminal" && !command.terminal) {
            command.terminal = true;
            continue;
        }
        const auto* named = std::ranges::find(
            actions, argument, &std::pair<std::string_view, CommandLine::Action>::first);
        if (named == actions.end() || actionGiven)
            return std::nullopt;
        command.action = named->second;
        actionGiven = true;
    }
    return command;
}

} // namespace brindle
