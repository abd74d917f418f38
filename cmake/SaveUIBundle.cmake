# Places "BrindleSaveUI.app" in the helper bundle's "Contents/Helpers", where the bundled host
# looks for the save panel: Contents/Info.plist and Contents/MacOS/brindle-save-ui.
set(BRINDLE_SAVE_UI_BUNDLE_DIR "${BRINDLE_BUNDLE_DIR}/Contents/Helpers/BrindleSaveUI.app")
configure_file(${CMAKE_CURRENT_LIST_DIR}/SaveUIInfo.plist.in
    "${BRINDLE_SAVE_UI_BUNDLE_DIR}/Contents/Info.plist" @ONLY)

add_custom_command(
    OUTPUT "${BRINDLE_SAVE_UI_BUNDLE_DIR}/Contents/MacOS/brindle-save-ui"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${BRINDLE_SAVE_UI_BUNDLE_DIR}/Contents/MacOS"
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:brindle-save-ui>
        "${BRINDLE_SAVE_UI_BUNDLE_DIR}/Contents/MacOS/brindle-save-ui"
    DEPENDS brindle-save-ui
    COMMENT "Assembling BrindleSaveUI.app"
    VERBATIM)
add_custom_target(save-ui-bundle ALL
    DEPENDS "${BRINDLE_SAVE_UI_BUNDLE_DIR}/Contents/MacOS/brindle-save-ui")
