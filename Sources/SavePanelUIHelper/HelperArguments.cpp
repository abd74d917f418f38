#include "SavePanelUIHelper/HelperArguments.h"

#include "Platform/Files.h"
#include "Platform/PathsAndText.h"

#include <algorithm>

namespace brindle {

namespace {

std::string optionValue(const std::vector<std::string>& arguments, const std::string& option) {
    const auto found = std::find(arguments.begin(), arguments.end(), option);
    if (found == arguments.end() || std::next(found) == arguments.end())
        throw SavePanelHelperError::missingArgument(option);
    return *std::next(found);
}

} // namespace

HelperArguments HelperArguments::parse(const std::vector<std::string>& arguments) {
    const std::string request = optionValue(arguments, "--request");
    const std::string response = optionValue(arguments, "--response");
    if (!request.starts_with('/') || !response.starts_with('/'))
        throw SavePanelHelperError::invalidExchangePaths();
    HelperArguments parsed{platform::standardizedPath(request),
                           platform::standardizedPath(response)};
    const std::string folder = platform::deletingLastPathComponent(parsed.requestPath);
    if (folder != platform::deletingLastPathComponent(parsed.responsePath) ||
        platform::lastPathComponent(folder) != "PanelRequests" ||
        !platform::lastPathComponent(parsed.requestPath).ends_with(".request.json") ||
        !platform::lastPathComponent(parsed.responsePath).ends_with(".response.json"))
        throw SavePanelHelperError::invalidExchangePaths();
    if (const auto status = platform::fileStatusAtPath(folder);
        !status || !status->isOwnDirectory())
        throw SavePanelHelperError::invalidExchangePaths();
    return parsed;
}

} // namespace brindle
