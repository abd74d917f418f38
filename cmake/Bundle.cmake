# Assembles "Kavo Helper.app" in the build tree with the layout the companion installs:
# Contents/Info.plist, Contents/MacOS/<programs>, Contents/Resources/Tools/.
set(BRINDLE_BUNDLE_DIR "${CMAKE_BINARY_DIR}/Kavo Helper.app")
configure_file(${CMAKE_CURRENT_LIST_DIR}/Info.plist.in "${BRINDLE_BUNDLE_DIR}/Contents/Info.plist" @ONLY)

add_custom_command(
    OUTPUT "${BRINDLE_BUNDLE_DIR}/Contents/MacOS/brindle-host"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${BRINDLE_BUNDLE_DIR}/Contents/MacOS"
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:brindle-host> "${BRINDLE_BUNDLE_DIR}/Contents/MacOS/brindle-host"
    DEPENDS brindle-host
    COMMENT "Assembling Kavo Helper.app"
    VERBATIM)
add_custom_target(bundle ALL DEPENDS "${BRINDLE_BUNDLE_DIR}/Contents/MacOS/brindle-host")

# The encoders come from the system's packages; the bundle's tools folder points at them, so the
# bundled host finds them where it looks first.
foreach(tool cwebp ffmpeg ffprobe)
    find_program(BRINDLE_TOOL_${tool} ${tool} PATHS /usr/bin NO_DEFAULT_PATH)
    if(BRINDLE_TOOL_${tool})
        file(MAKE_DIRECTORY "${BRINDLE_BUNDLE_DIR}/Contents/Resources/Tools")
        file(CREATE_LINK "${BRINDLE_TOOL_${tool}}" "${BRINDLE_BUNDLE_DIR}/Contents/Resources/Tools/${tool}" SYMBOLIC)
    endif()
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/SaveUIBundle.cmake)
