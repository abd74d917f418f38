#pragma once

#include "SmartSaveUIBridge/SmartSavePanelProtocol.h"

#include <exception>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

/// The user's choice: a location (a folder for `chooseLibraryRoot`, a file for
/// `chooseDestination`), with the bookmark bytes the application sent, if any; or a cancel.
class SmartSavePanelBridgeResult {
public:
    enum class Case { selected, cancelled };

    static SmartSavePanelBridgeResult selected(std::string path, bool isDirectory,
                                               std::optional<std::string> bookmarkData,
                                               std::optional<bool> replaceApproved = {}) {
        return {Case::selected, std::move(path), isDirectory, std::move(bookmarkData),
                replaceApproved};
    }
    static SmartSavePanelBridgeResult cancelled() { return {Case::cancelled, {}, false, {}, {}}; }

    Case resultCase() const noexcept { return case_; }
    /// The standardised path of the selected location; empty when cancelled.
    const std::string& path() const noexcept { return path_; }
    bool isDirectory() const noexcept { return isDirectory_; }
    const std::optional<std::string>& bookmarkData() const noexcept { return bookmarkData_; }
    /// Whether the user agreed to replace what stood at the chosen name; absent when the panel
    /// did not say.
    std::optional<bool> replaceApproved() const noexcept { return replaceApproved_; }

    bool operator==(const SmartSavePanelBridgeResult&) const = default;

private:
    SmartSavePanelBridgeResult(Case resultCase, std::string path, bool isDirectory,
                               std::optional<std::string> bookmarkData,
                               std::optional<bool> replaceApproved)
        : case_(resultCase), path_(std::move(path)), isDirectory_(isDirectory),
          bookmarkData_(std::move(bookmarkData)), replaceApproved_(replaceApproved) {}

    Case case_;
    std::string path_;
    bool isDirectory_;
    std::optional<std::string> bookmarkData_;
    std::optional<bool> replaceApproved_;
};

class SmartSavePanelBridgeError : public std::exception {
public:
    enum class Case {
        helperLaunchFailed,
        helperFailed,
        invalidDataDirectory,
        missingHelperApplication,
        missingResponse,
        invalidResponse,
    };

    static SmartSavePanelBridgeError helperLaunchFailed(const std::string& detail);
    static SmartSavePanelBridgeError helperFailed(std::string message);
    static SmartSavePanelBridgeError invalidDataDirectory();
    static SmartSavePanelBridgeError missingHelperApplication();
    static SmartSavePanelBridgeError missingResponse();
    static SmartSavePanelBridgeError invalidResponse();

    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    SmartSavePanelBridgeError(Case errorCase, std::string message)
        : case_(errorCase), message_(std::move(message)) {}

    Case case_;
    std::string message_;
};

/// The host's half of the save-panel exchange: checks the application bundle, writes the
/// request into the private exchange folder, runs the application until it quits and reads its
/// answer. It has no timer: the wait lasts as long as the panel is open. Each `present` is a
/// complete exchange with files of its own, so calls on several threads do not interfere.
class SmartSavePanelBridge {
public:
    static constexpr std::string_view helperApplicationEnvironmentOverride = "BRINDLE_UI_APP";
    static constexpr std::string_view helperBundleIdentifier = "com.vantle.brindle.smart-save-ui";

    /// Both paths are kept standardised ("." and ".." resolved, links left alone; a relative
    /// path is taken from the current directory). Nothing is checked or started here.
    SmartSavePanelBridge(const std::string& dataRootPath, const std::string& helperApplicationPath,
                         std::string expectedBundleIdentifier, std::string helperExecutableName);

    /// The default configuration: the bundle named by "BRINDLE_UI_APP" when that is set and
    /// not empty, else "BrindleUI.app" beside the data folder, running "brindle-ui".
    SmartSavePanelBridge(const std::string& dataRootPath,
                         const std::map<std::string, std::string>& environment);

    const std::string& dataRootPath() const noexcept { return dataRootPath_; }
    const std::string& helperApplicationPath() const noexcept { return helperApplicationPath_; }

    /// One complete exchange; blocks until the application has quit. Throws
    /// `SmartSavePanelBridgeError`, or `SmartSaveFileError` when the exchange folder or the
    /// request cannot be written. Both exchange files are gone again whatever happens.
    SmartSavePanelBridgeResult present(const SmartSavePanelRequest& request) const;

    /// What the application's response file `contents` says about a panel of `kind`: the
    /// choice, or the `SmartSavePanelBridgeError` that a bad or failed answer is.
    static SmartSavePanelBridgeResult acceptedResponse(std::string_view contents,
                                                       SmartSavePanelKind kind);

private:
    void validateHelperApplication() const;
    std::string prepareExchangeDirectory() const;
    /// Runs the application to its end; what its exit status says went wrong, if anything.
    std::optional<std::string> launchApplication(const std::string& requestPath,
                                                 const std::string& responsePath) const;

    std::string dataRootPath_;
    std::string helperApplicationPath_;
    std::string expectedBundleIdentifier_;
    std::string helperExecutableName_;
};

} // namespace brindle
