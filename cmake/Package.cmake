# The Debian package (`cpack -G DEB` in a Release build, see scripts/package.sh): the bundle for
# every user in /opt, a menu entry and an icon, and the host's manifest in the system-wide
# folders of the browsers that read one.
#
# The bundle carries no copies of Debian's programs: it has no Contents/Resources/Tools, so the
# host runs the tools of the packages it depends on. The manifests under /etc are links to one
# file inside the bundle, not files: dpkg keeps a file under /etc (a conffile) after `apt remove`,
# and it would go on naming a host that is gone, while a link goes with the package.
set(BRINDLE_PACKAGE_BUNDLE "opt/Kavo Helper.app")
set(BRINDLE_PACKAGE_CONTENTS "${BRINDLE_PACKAGE_BUNDLE}/Contents")
set(BRINDLE_PACKAGE_STAGE "${CMAKE_BINARY_DIR}/package-files")
set(BRINDLE_HOST_MANIFEST_NAME "com.vantle.brindle.json")
set(BRINDLE_DESKTOP_ID "com.vantle.kavo.helper")
# Google Chrome's and Chromium's documented folders, and Microsoft Edge's; Brave and Vivaldi
# document none.
set(BRINDLE_SYSTEM_MANIFEST_FOLDERS
    etc/opt/chrome/native-messaging-hosts
    etc/chromium/native-messaging-hosts
    etc/opt/edge/native-messaging-hosts)

install(TARGETS brindle-host kavo-helper DESTINATION "${BRINDLE_PACKAGE_CONTENTS}/MacOS")
install(FILES "${BRINDLE_BUNDLE_CONTENTS}/Info.plist" DESTINATION "${BRINDLE_PACKAGE_CONTENTS}")
install(FILES "${BRINDLE_BUNDLE_CONTENTS}/Resources/Third-Party Notices.html"
              "${BRINDLE_BUNDLE_CONTENTS}/Resources/kavo-helper.svg"
        DESTINATION "${BRINDLE_PACKAGE_CONTENTS}/Resources")
set(save_ui_contents "${BRINDLE_PACKAGE_CONTENTS}/Helpers/BrindleSaveUI.app/Contents")
install(TARGETS brindle-save-ui DESTINATION "${save_ui_contents}/MacOS")
install(FILES "${BRINDLE_SAVE_UI_BUNDLE_DIR}/Contents/Info.plist" DESTINATION "${save_ui_contents}")

# The manifest as the companion writes it, so that it counts this one as current.
set(manifest "${BRINDLE_PACKAGE_STAGE}/${BRINDLE_HOST_MANIFEST_NAME}")
set(installed_manifest "/${BRINDLE_PACKAGE_CONTENTS}/Resources/NativeMessagingHosts/${BRINDLE_HOST_MANIFEST_NAME}")
add_custom_command(
    OUTPUT "${manifest}"
    COMMAND kavo-host-manifest "/${BRINDLE_PACKAGE_BUNDLE}" > "${manifest}"
    DEPENDS kavo-host-manifest
    VERBATIM)
install(FILES "${manifest}" DESTINATION "${BRINDLE_PACKAGE_CONTENTS}/Resources/NativeMessagingHosts")
foreach(folder ${BRINDLE_SYSTEM_MANIFEST_FOLDERS})
    set(link "${BRINDLE_PACKAGE_STAGE}/${folder}/${BRINDLE_HOST_MANIFEST_NAME}")
    file(MAKE_DIRECTORY "${BRINDLE_PACKAGE_STAGE}/${folder}")
    file(CREATE_LINK "${installed_manifest}" "${link}" SYMBOLIC)
    install(FILES "${link}" DESTINATION "${folder}")
endforeach()

set(BRINDLE_PACKAGE_PROGRAM "/${BRINDLE_PACKAGE_CONTENTS}/MacOS/kavo-helper")
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/desktop-entry.in
    "${BRINDLE_PACKAGE_STAGE}/${BRINDLE_DESKTOP_ID}.desktop" @ONLY)
install(FILES "${BRINDLE_PACKAGE_STAGE}/${BRINDLE_DESKTOP_ID}.desktop" DESTINATION usr/share/applications)
install(FILES "${CMAKE_CURRENT_LIST_DIR}/kavo-helper.svg" DESTINATION usr/share/icons/hicolor/scalable/apps
        RENAME "${BRINDLE_DESKTOP_ID}.svg")

set(doc "usr/share/doc/kavo-helper")
install(FILES "${CMAKE_CURRENT_LIST_DIR}/package/copyright" DESTINATION "${doc}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/changelog.in "${BRINDLE_PACKAGE_STAGE}/changelog" @ONLY)
add_custom_command(
    OUTPUT "${BRINDLE_PACKAGE_STAGE}/changelog.gz"
    COMMAND gzip -9nf -k "${BRINDLE_PACKAGE_STAGE}/changelog"
    DEPENDS "${BRINDLE_PACKAGE_STAGE}/changelog"
    VERBATIM)
install(FILES "${BRINDLE_PACKAGE_STAGE}/changelog.gz" DESTINATION "${doc}")
install(FILES "${CMAKE_CURRENT_LIST_DIR}/package/lintian-overrides" DESTINATION usr/share/lintian/overrides
        RENAME kavo-helper)
add_custom_target(package-files ALL DEPENDS "${manifest}" "${BRINDLE_PACKAGE_STAGE}/changelog.gz")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavo-helper)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "saves a web page's full-size images, video and audio")
# CPack puts the summary first; this is the extended description after it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kavo Helper is the native side of the Brindle browser extension for Google\n"
    "Chrome, Chromium and Microsoft Edge. It receives the files the extension saves,\n"
    "re-encodes PNG as lossless WebP, joins streamed video and audio into one file\n"
    "with FFmpeg, and moves each file into the folder the user chose.\n"
    "The package registers the helper with the browsers for every user.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vantle Packaging <packages@vantle.com>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.vantle.com/kavo/")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME "kavo-helper_${PROJECT_VERSION}_amd64.deb")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps sees only what the programs link. The host runs Debian's ffmpeg, ffprobe and
# cwebp, and loads libcurl, libplist and libsystemd by name when first needed; Qt's platform
# plugins, without which no window shows, are only recommended by Qt's own packages.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ffmpeg, webp, libcurl4, libplist3, libsystemd0, qt6-qpa-plugins")
include(CPack)
