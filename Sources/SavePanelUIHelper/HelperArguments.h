#pragma once

#include <exception>
#include <string>
#include <vector>

namespace brindle {

class SavePanelHelperError : public std::exception {
public:
    enum class Case {
        missingArgument,
        invalidExchangePaths,
        incompatibleRequest,
        unsupportedPanel
    };

    static SavePanelHelperError missingArgument(const std::string& option) {
        return {Case::missingArgument, "保存窗口缺少参数：" + option};
    }
    static SavePanelHelperError invalidExchangePaths() {
        return {Case::invalidExchangePaths, "保存窗口通信路径无效"};
    }
    static SavePanelHelperError incompatibleRequest() {
        return {Case::incompatibleRequest, "保存窗口请求版本不兼容"};
    }
    static SavePanelHelperError unsupportedPanel() {
        return {Case::unsupportedPanel, "此保存窗口不支持当前请求"};
    }

    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    SavePanelHelperError(Case errorCase, std::string message)
        : case_(errorCase), message_(std::move(message)) {}

    Case case_;
    std::string message_;
};

/// The two exchange files the host names on the command line ("--request" path "--response"
/// path, in any order among other arguments), both standardised.
struct HelperArguments {
    std::string requestPath;
    std::string responsePath;

    /// `arguments` is the whole argument list, the program's own path included. Both files must
    /// be named as the host names them ("<token>.request.json", "<token>.response.json") in one
    /// folder called "PanelRequests" that is a folder of this user, not a link to one: a response
    /// is never written anywhere else. Throws `SavePanelHelperError`.
    static HelperArguments parse(const std::vector<std::string>& arguments);
};

} // namespace brindle
