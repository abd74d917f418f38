#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brindle {

// Where the host keeps what the save panel needs. Resolved on every call: nothing is cached.

/// Where uploads streamed by the extension are staged: $BRINDLE_DIRECT_SAVE_DIR when set and not
/// empty (a relative one from the working folder), else the user's application data folder followed
/// by "Brindle/DirectSave/Incoming". Nothing when the user has no home folder.
std::optional<std::string> directSaveIncomingDirectory();

/// The folders of the host's own data, whose files it may remove: the incoming folder, the
/// save-panel exchange root, the image-optimisation cancellation markers, and "Brindle" in the
/// user's application data folder.
std::vector<std::string> privateDataFolders();

/// The save-panel exchange root, "SavePanel" beside the incoming folder, made with any missing
/// parent and then given exactly 0700. Throws `DirectoryCreationError`, or
/// `SmartSaveFileError` when the permissions cannot be set.
std::string savePanelDataDirectory();

/// The save-panel application bundle: $BRINDLE_SAVE_UI_APP when set and not empty; else
/// "Helpers/BrindleSaveUI.app" in the bundle folder that holds this host ("Contents") when
/// something is there; else "BrindleSaveUI.app" two levels above the incoming folder. Whether it
/// is a usable bundle is for the bridge to judge.
std::string savePanelApplicationURL();

/// The keyboard input source to switch back to once the panel is done, when the desktop names
/// one that fits a request (non-empty, at most 512 bytes, no NUL).
std::optional<std::string> currentKeyboardInputSourceIdentifier();

} // namespace brindle
