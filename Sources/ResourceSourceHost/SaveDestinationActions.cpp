#include "MetadataCore/DirectoryCreation.h"
#include "MetadataCore/ProductInfo.h"
#include "Platform/DesktopServices.h"
#include "Platform/Files.h"
#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"
#include "ResourceSourceHost/Actions.h"
#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/ImageOptimizationCancellation.h"
#include "ResourceSourceHost/SavePanelLocations.h"
#include "SmartSaveUIBridge/SavePanelActivation.h"
#include "SmartSaveUIBridge/SmartSaveFileError.h"
#include "SmartSaveUIBridge/SmartSavePanelBridge.h"

namespace brindle {

namespace {

constexpr mode_t privateDirectoryPermissions = 0700;
constexpr std::size_t maximumInputSourceIdentifierBytes = 512;
constexpr const char* savePanelExecutableName = "brindle-save-ui";
constexpr const char* savePanelBundleName = "BrindleSaveUI.app";
// The panel answers from its event loop; one that is hung must not hold up this host for long.
constexpr std::chrono::milliseconds activationTimeout{2000};

// The running panel first makes itself active; then every panel hears that it should come
// forward. Nothing is broadcast when no panel answered.
bool activateRunningSavePanel() {
    auto bus = platform::SessionBusConnection::connect();
    if (!bus)
        return false;
    const platform::SessionBusMember activate{savePanelActivation::objectPath,
                                              savePanelActivation::interfaceName,
                                              savePanelActivation::activateMethod};
    if (!bus->callMethod(savePanelActivation::busName, activate, activationTimeout))
        return false;
    static_cast<void>(
        bus->broadcastSignal({savePanelActivation::objectPath, savePanelActivation::interfaceName,
                              savePanelActivation::activationRequestedSignal}));
    return true;
}

} // namespace

std::optional<std::string> directSaveIncomingDirectory() {
    // A relative folder is taken from the working folder, as a file URL made of it would be: the
    // steps after the upload need the absolute path. The host never changes its working folder,
    // so this is the one it started in.
    if (auto configured = platform::configuredValue("BRINDLE_DIRECT_SAVE_DIR"))
        return platform::absoluteStandardizedPath(*configured);
    const auto applicationSupport = platform::applicationSupportDirectory();
    if (!applicationSupport)
        return std::nullopt;
    return platform::appendingPathComponent(*applicationSupport, "Brindle/DirectSave/Incoming");
}

std::vector<std::string> privateDataFolders() {
    std::vector<std::string> folders;
    if (const auto incoming = directSaveIncomingDirectory()) {
        folders.push_back(*incoming);
        folders.push_back(platform::appendingPathComponent(
            platform::deletingLastPathComponent(*incoming), "SavePanel"));
    }
    if (auto markers = imageOptimizationCancellationDirectory())
        folders.push_back(std::move(*markers));
    if (const auto applicationSupport = platform::applicationSupportDirectory())
        folders.push_back(platform::appendingPathComponent(*applicationSupport, "Brindle"));
    return folders;
}

std::string savePanelDataDirectory() {
    const auto incoming = directSaveIncomingDirectory();
    if (!incoming)
        throw DirectoryCreationError("SavePanel", std::errc::no_such_file_or_directory);
    const std::string directory = platform::appendingPathComponent(
        platform::deletingLastPathComponent(*incoming), "SavePanel");
    createDirectoryWithIntermediates(directory, privateDirectoryPermissions);
    if (const auto changed =
            platform::setDirectoryPermissions(directory, privateDirectoryPermissions);
        !changed)
        throw SmartSaveFileError::permissionChangeFailed(directory, changed.error().value());
    return directory;
}

std::string savePanelApplicationURL() {
    if (auto configured = platform::configuredValue("BRINDLE_SAVE_UI_APP"))
        return *configured;
    const std::string contents =
        platform::deletingLastPathComponent(platform::deletingLastPathComponent(
            platform::standardizedPath(platform::executablePath())));
    const std::string bundled =
        platform::appendingPathComponent(contents, std::string("Helpers/") + savePanelBundleName);
    const auto incoming = directSaveIncomingDirectory();
    if (platform::fileStatusFollowingLinks(bundled) || !incoming)
        return bundled;
    return platform::appendingPathComponent(
        platform::deletingLastPathComponent(platform::deletingLastPathComponent(*incoming)),
        savePanelBundleName);
}

std::optional<std::string> currentKeyboardInputSourceIdentifier() {
    auto identifier = platform::currentKeyboardInputSource();
    if (!identifier || identifier->empty() ||
        identifier->size() > maximumInputSourceIdentifierBytes ||
        identifier->find('\0') != std::string::npos)
        return std::nullopt;
    return identifier;
}

boost::json::object chooseSaveDestination(const boost::json::object& request) {
    const SmartSavePanelBridge bridge(savePanelDataDirectory(), savePanelApplicationURL(),
                                      std::string(KavoProduct::saveUIBundleIdentifier),
                                      savePanelExecutableName);
    auto startingDirectory = optionalString("startingDirectory", request);
    auto suggestedFilename = requiredString("suggestedFilename", request);
    auto panelTitle = optionalString("panelTitle", request);
    auto panelMessage = optionalString("panelMessage", request);
    const SmartSavePanelRequest panelRequest(
        SmartSavePanelKind::chooseDestination, std::move(startingDirectory),
        std::move(suggestedFilename), std::move(panelTitle), std::move(panelMessage),
        currentKeyboardInputSourceIdentifier());

    const SmartSavePanelBridgeResult result = bridge.present(panelRequest);
    if (result.resultCase() == SmartSavePanelBridgeResult::Case::cancelled)
        return {{"ok", true}, {"cancelled", true}};
    // The extension overwrites on the strength of this flag, so a file that appeared at the name
    // after the user confirmed a free one must not count as approved. A panel that does not
    // report the user's answer asked about every file it saw, so for it existence is the answer.
    // Something is there as the panel and the move judge it: a link counts, dangling or not.
    const bool fileExists = platform::fileStatusAtPath(result.path()).has_value();
    const bool overwriteApproved = fileExists && result.replaceApproved().value_or(true);
    return {{"ok", true},
            {"cancelled", false},
            {"path", result.path()},
            {"overwriteApproved", overwriteApproved}};
}

boost::json::object activateSaveDestinationPanel(const boost::json::object& /*request*/) {
    return {{"ok", true}, {"activated", activateRunningSavePanel()}};
}

} // namespace brindle
