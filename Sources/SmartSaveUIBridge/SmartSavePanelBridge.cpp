#include "SmartSaveUIBridge/SmartSavePanelBridge.h"

#include "Platform/DesktopServices.h"
#include "Platform/Files.h"
#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"
#include "Platform/Result.h"
#include "SmartSaveUIBridge/SmartSaveFileError.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace brindle {

namespace {

constexpr mode_t exchangeDirectoryPermissions = 0700;
constexpr std::int64_t maximumResponseBytes = 65536;
constexpr std::size_t maximumSelectedPathBytes = 8192;
constexpr std::size_t maximumBookmarkTextBytes = 65536;
constexpr std::size_t maximumBookmarkBytes = 48000;
constexpr std::size_t maximumFailureMessageCharacters = 1000;
constexpr std::size_t keptStandardErrorBytes = 4096;
// An Info.plist is a few kilobytes; anything this large is not one.
constexpr std::size_t maximumInfoPropertyListBytes = 1 << 20;

bool isOwnedDirectory(const std::string& path) {
    const auto status = platform::fileStatusAtPath(path);
    return status && status->isOwnDirectory();
}

std::string bundleIdentifier(const std::string& bundlePath) {
    const std::string infoPath =
        platform::appendingPathComponent(bundlePath, "Contents/Info.plist");
    const auto file = platform::openRegularFile(infoPath, platform::RequiredOwner::anyone);
    if (!file || file->status.size > static_cast<std::int64_t>(maximumInfoPropertyListBytes))
        return {};
    // Read at the size it has: zero-filling a buffer of the largest size allowed took the host
    // 3 ms of page faults for every panel it opened.
    const auto contents =
        platform::readHead(file->descriptor, static_cast<std::size_t>(file->status.size));
    if (!contents)
        return {};
    return platform::propertyListDictionaryString(*contents, "CFBundleIdentifier").value_or("");
}

// Removes both exchange files however the exchange ends; a file never written is no error. An
// empty folder made in a file's place goes too (remove() takes either).
class ExchangeFiles {
public:
    explicit ExchangeFiles(const std::string& directory) {
        std::string token = platform::randomUUIDString();
        std::transform(token.begin(), token.end(), token.begin(),
                       [](unsigned char character) { return std::tolower(character); });
        requestPath = platform::appendingPathComponent(directory, token + ".request.json");
        responsePath = platform::appendingPathComponent(directory, token + ".response.json");
    }
    ~ExchangeFiles() {
        (void)platform::removeFileOrEmptyFolder(requestPath);
        (void)platform::removeFileOrEmptyFolder(responsePath);
    }
    ExchangeFiles(const ExchangeFiles&) = delete;
    ExchangeFiles& operator=(const ExchangeFiles&) = delete;

    std::string requestPath;
    std::string responsePath;
};

bool isAcceptableSelectedPath(const std::optional<std::string>& path) {
    return path && path->starts_with('/') && path->size() <= maximumSelectedPathBytes &&
           path->find('\0') == std::string::npos;
}

// The decoded bookmark; none for an absent one, which is accepted.
std::optional<std::string> acceptedBookmark(const std::optional<std::string>& text) {
    if (!text)
        return std::nullopt;
    std::string bytes;
    if (text->size() > maximumBookmarkTextBytes || !platform::decodeBase64(*text, bytes) ||
        bytes.empty() || bytes.size() > maximumBookmarkBytes)
        throw SmartSavePanelBridgeError::invalidResponse();
    return bytes;
}

std::string failureMessage(const std::optional<std::string>& error) {
    const std::string message =
        platform::characterPrefix(platform::trimmingWhitespaceAndNewlines(error.value_or("")),
                                  maximumFailureMessageCharacters);
    return message.empty() ? "智能保存窗口打开失败" : message;
}

std::string launchFailureDetail(const std::string& standardError, int exitCode) {
    if (platform::isValidUTF8(standardError)) {
        std::string text = platform::trimmingWhitespaceAndNewlines(standardError);
        if (!text.empty())
            return text;
    }
    return "启动器退出码 " + std::to_string(exitCode);
}

// The response file, checked before it is read: a regular file of this user, 1 to 65536 bytes.
std::string readValidatedResponse(const std::string& path) {
    const auto status = platform::fileStatusAtPath(path);
    if (!status)
        throw SmartSavePanelBridgeError::missingResponse();
    const auto isAcceptable = [](const platform::FileStatus& file) {
        return file.isOwnRegularFile() && file.size >= 1 && file.size <= maximumResponseBytes;
    };
    if (!isAcceptable(*status))
        throw SmartSavePanelBridgeError::invalidResponse();
    // Judged again through the descriptor that is read: the entry may have been swapped.
    auto file = platform::openRegularFile(path);
    if (!file && file.error().category() != std::generic_category())
        throw SmartSavePanelBridgeError::invalidResponse();
    if (!file)
        throw SmartSaveFileError::readFailed(path, file.error().value());
    if (!isAcceptable(file->status))
        throw SmartSavePanelBridgeError::invalidResponse();
    auto contents = platform::readHead(file->descriptor, maximumResponseBytes + 1);
    if (!contents)
        throw SmartSaveFileError::readFailed(path, contents.error().value());
    if (contents->empty() || contents->size() > maximumResponseBytes)
        throw SmartSavePanelBridgeError::invalidResponse();
    return std::move(*contents);
}

} // namespace

SmartSavePanelBridgeError SmartSavePanelBridgeError::helperLaunchFailed(const std::string& detail) {
    return {Case::helperLaunchFailed, "无法启动智能保存窗口：" + detail};
}

SmartSavePanelBridgeError SmartSavePanelBridgeError::helperFailed(std::string message) {
    return {Case::helperFailed, std::move(message)};
}

SmartSavePanelBridgeError SmartSavePanelBridgeError::invalidDataDirectory() {
    return {Case::invalidDataDirectory, "智能保存的面板通信目录无效"};
}

SmartSavePanelBridgeError SmartSavePanelBridgeError::missingHelperApplication() {
    return {Case::missingHelperApplication, "智能保存窗口组件未正确安装，请重新运行安装脚本"};
}

SmartSavePanelBridgeError SmartSavePanelBridgeError::missingResponse() {
    return {Case::missingResponse, "智能保存窗口未返回选择结果"};
}

SmartSavePanelBridgeError SmartSavePanelBridgeError::invalidResponse() {
    return {Case::invalidResponse, "智能保存窗口返回了无效结果"};
}

SmartSavePanelBridge::SmartSavePanelBridge(const std::string& dataRootPath,
                                           const std::string& helperApplicationPath,
                                           std::string expectedBundleIdentifier,
                                           std::string helperExecutableName)
    : dataRootPath_(platform::absoluteStandardizedPath(dataRootPath)),
      helperApplicationPath_(platform::absoluteStandardizedPath(helperApplicationPath)),
      expectedBundleIdentifier_(std::move(expectedBundleIdentifier)),
      helperExecutableName_(std::move(helperExecutableName)) {}

namespace {

std::string defaultHelperApplicationPath(const std::string& dataRootPath,
                                         const std::map<std::string, std::string>& environment) {
    const auto configured =
        environment.find(std::string(SmartSavePanelBridge::helperApplicationEnvironmentOverride));
    if (configured != environment.end() && !configured->second.empty())
        return configured->second;
    return platform::appendingPathComponent(
        platform::deletingLastPathComponent(platform::absoluteStandardizedPath(dataRootPath)),
        "BrindleUI.app");
}

} // namespace

SmartSavePanelBridge::SmartSavePanelBridge(const std::string& dataRootPath,
                                           const std::map<std::string, std::string>& environment)
    : SmartSavePanelBridge(dataRootPath, defaultHelperApplicationPath(dataRootPath, environment),
                           std::string(helperBundleIdentifier), "brindle-ui") {}

// The host runs what the bundle holds, so nobody but the user and root may be able to change
// it: each folder down to the executable, and the executable itself. A system-wide install is
// root's; a per-user one is the user's.
void SmartSavePanelBridge::validateHelperApplication() const {
    std::string path = helperApplicationPath_;
    for (const std::string_view folder : {"", "Contents", "MacOS"}) {
        path = folder.empty() ? path : platform::appendingPathComponent(path, std::string(folder));
        const auto status = platform::fileStatusAtPath(path);
        if (!status || !status->isDirectory() || !status->isSafeFromOtherUsers())
            throw SmartSavePanelBridgeError::missingHelperApplication();
    }
    if (bundleIdentifier(helperApplicationPath_) != expectedBundleIdentifier_)
        throw SmartSavePanelBridgeError::missingHelperApplication();
    const std::string executable = platform::appendingPathComponent(path, helperExecutableName_);
    const auto status = platform::fileStatusAtPath(executable);
    if (!status || !status->isRegularFile() || !status->isSafeFromOtherUsers() ||
        !platform::isExecutableFile(executable))
        throw SmartSavePanelBridgeError::missingHelperApplication();
}

std::string SmartSavePanelBridge::prepareExchangeDirectory() const {
    if (!isOwnedDirectory(dataRootPath_))
        throw SmartSavePanelBridgeError::invalidDataDirectory();
    const std::string directory = platform::appendingPathComponent(dataRootPath_, "PanelRequests");
    if (platform::fileStatusAtPath(directory)) {
        if (!isOwnedDirectory(directory))
            throw SmartSavePanelBridgeError::invalidDataDirectory();
    } else {
        if (const auto created = platform::createDirectory(directory, exchangeDirectoryPermissions);
            !created)
            throw SmartSaveFileError::directoryCreationFailed(directory, created.error().value());
        if (!isOwnedDirectory(directory))
            throw SmartSavePanelBridgeError::invalidDataDirectory();
    }
    if (const auto changed =
            platform::setDirectoryPermissions(directory, exchangeDirectoryPermissions);
        !changed)
        throw SmartSaveFileError::permissionChangeFailed(directory, changed.error().value());
    return directory;
}

// The bundle's executable is started directly with the arguments the application reads, and
// waited for. Its standard input and output are never the host's own: those are Chrome's
// message channel.
std::optional<std::string>
SmartSavePanelBridge::launchApplication(const std::string& requestPath,
                                        const std::string& responsePath) const {
    platform::ChildProcessLaunch launch;
    launch.program = platform::appendingPathComponent(helperApplicationPath_,
                                                      "Contents/MacOS/" + helperExecutableName_);
    launch.arguments = {"--request", requestPath, "--response", responsePath};
    launch.standardInput = platform::ChildStream::nullDevice();
    launch.standardOutput = platform::ChildStream::nullDevice();
    const auto run = platform::runKeepingStandardError(launch, keptStandardErrorBytes);
    if (!run)
        throw SmartSavePanelBridgeError::helperLaunchFailed(
            platform::errnoDescription(run.error().value()));
    // An application that crashed or was killed has quit like any other: whether it answered is
    // for the response file to tell.
    if (run->exit.terminatingSignal != 0 || run->exit.succeeded())
        return std::nullopt;
    return launchFailureDetail(run->standardError, run->exit.exitCode);
}

// The application is started directly, so its own exit status stands where a launcher's would:
// an application that answered and then failed has still answered (its "failed" response says
// why in its own words), and the status speaks only for an application that did not.
SmartSavePanelBridgeResult
SmartSavePanelBridge::present(const SmartSavePanelRequest& request) const {
    validateHelperApplication();
    const ExchangeFiles files(prepareExchangeDirectory());
    SmartSavePanelMessageCodec::writeRequest(request, files.requestPath);
    const auto exitFailure = launchApplication(files.requestPath, files.responsePath);
    if (exitFailure && !platform::fileStatusAtPath(files.responsePath))
        throw SmartSavePanelBridgeError::helperLaunchFailed(*exitFailure);

    return acceptedResponse(readValidatedResponse(files.responsePath), request.kind);
}

SmartSavePanelBridgeResult SmartSavePanelBridge::acceptedResponse(std::string_view contents,
                                                                  SmartSavePanelKind kind) {
    std::optional<SmartSavePanelResponse> response;
    try {
        response = SmartSavePanelMessageCodec::decodeResponse(contents);
    } catch (const SmartSavePanelDecodingError&) {
        throw SmartSavePanelBridgeError::invalidResponse();
    }
    if (response->schemaVersion() != SmartSavePanelResponse::currentSchemaVersion)
        throw SmartSavePanelBridgeError::invalidResponse();
    switch (response->outcome) {
    case SmartSavePanelOutcome::selected:
        if (!isAcceptableSelectedPath(response->selectedPath))
            throw SmartSavePanelBridgeError::invalidResponse();
        return SmartSavePanelBridgeResult::selected(
            platform::standardizedPath(*response->selectedPath),
            kind == SmartSavePanelKind::chooseLibraryRoot,
            acceptedBookmark(response->bookmarkDataBase64), response->replaceApproved);
    case SmartSavePanelOutcome::cancelled:
        return SmartSavePanelBridgeResult::cancelled();
    case SmartSavePanelOutcome::failed:
        break;
    }
    throw SmartSavePanelBridgeError::helperFailed(failureMessage(response->error));
}

} // namespace brindle
