# Assembles "Kavo Helper.app" in the build tree with the layout the companion installs:
# Contents/Info.plist, Contents/MacOS/<programs>, Contents/Resources/ (notices, icon, Tools/).
set(BRINDLE_BUNDLE_DIR "${CMAKE_BINARY_DIR}/Kavo Helper.app")
set(BRINDLE_BUNDLE_CONTENTS "${BRINDLE_BUNDLE_DIR}/Contents")
configure_file(${CMAKE_CURRENT_LIST_DIR}/Info.plist.in "${BRINDLE_BUNDLE_CONTENTS}/Info.plist" @ONLY)
file(MAKE_DIRECTORY "${BRINDLE_BUNDLE_CONTENTS}/MacOS" "${BRINDLE_BUNDLE_CONTENTS}/Resources/Tools")

set(BRINDLE_BUNDLE_FILES)
foreach(program brindle-host kavo-helper)
    add_custom_command(
        OUTPUT "${BRINDLE_BUNDLE_CONTENTS}/MacOS/${program}"
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${program}> "${BRINDLE_BUNDLE_CONTENTS}/MacOS/${program}"
        DEPENDS ${program}
        COMMENT "Assembling Kavo Helper.app: ${program}"
        VERBATIM)
    list(APPEND BRINDLE_BUNDLE_FILES "${BRINDLE_BUNDLE_CONTENTS}/MacOS/${program}")
endforeach()

foreach(resource "ThirdPartyNotices.html|Third-Party Notices.html" "kavo-helper.svg|kavo-helper.svg")
    string(REPLACE "|" ";" resource "${resource}")
    list(GET resource 0 source)
    list(GET resource 1 name)
    add_custom_command(
        OUTPUT "${BRINDLE_BUNDLE_CONTENTS}/Resources/${name}"
        COMMAND ${CMAKE_COMMAND} -E copy "${CMAKE_CURRENT_LIST_DIR}/${source}" "${BRINDLE_BUNDLE_CONTENTS}/Resources/${name}"
        DEPENDS "${CMAKE_CURRENT_LIST_DIR}/${source}"
        VERBATIM)
    list(APPEND BRINDLE_BUNDLE_FILES "${BRINDLE_BUNDLE_CONTENTS}/Resources/${name}")
endforeach()

# The encoders are copies of the system's programs, so that the installed bundle stands on its
# own. Earlier builds put links here: the old entry is removed first, or the copy would be
# written through a link onto the system's own program.
foreach(tool cwebp ffmpeg ffprobe)
    find_program(BRINDLE_TOOL_${tool} ${tool} PATHS /usr/bin NO_DEFAULT_PATH)
    if(BRINDLE_TOOL_${tool})
        set(copy "${BRINDLE_BUNDLE_CONTENTS}/Resources/Tools/${tool}")
        add_custom_command(
            OUTPUT "${copy}"
            COMMAND ${CMAKE_COMMAND} -E rm -f "${copy}"
            COMMAND ${CMAKE_COMMAND} -E copy "${BRINDLE_TOOL_${tool}}" "${copy}"
            DEPENDS "${BRINDLE_TOOL_${tool}}"
            VERBATIM)
        list(APPEND BRINDLE_BUNDLE_FILES "${copy}")
    endif()
endforeach()

add_custom_target(bundle ALL DEPENDS ${BRINDLE_BUNDLE_FILES})
include(${CMAKE_CURRENT_LIST_DIR}/SaveUIBundle.cmake)
add_dependencies(bundle save-ui-bundle)
