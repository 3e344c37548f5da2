# The Debian package (cpack -G DEB, run by scripts/package): the program, its private libvosk,
# the desktop entry, icon, AppStream metainfo, man page and the GNOME Shell extension.
include(GNUInstallDirs)

set(VELUTANORA_HOMEPAGE "https://github.com/velutanora/velutanora" CACHE STRING "The project's homepage")
set(VELUTANORA_RELEASE_DATE "2026-12-06" CACHE STRING "Date of this version's release (YYYY-MM-DD)")
set(VELUTANORA_APP_ID "io.github.velutanora.Velutanora")

configure_file(${CMAKE_CURRENT_LIST_DIR}/velutanora.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/${VELUTANORA_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${VELUTANORA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Debian ships man pages compressed (gzip -n: no time stamp, the same bytes every build).
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/velutanora.1.gz
                   COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/velutanora.1 > ${PROJECT_BINARY_DIR}/velutanora.1.gz
                   DEPENDS ${CMAKE_CURRENT_LIST_DIR}/velutanora.1 VERBATIM)
add_custom_target(velutanora_manpage ALL DEPENDS ${PROJECT_BINARY_DIR}/velutanora.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/velutanora.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velutanora)
set(CPACK_PACKAGE_VENDOR "Velutanora")
set(CPACK_PACKAGE_CONTACT "Velutanora developers <velutanora@users.noreply.github.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Japanese dictation for the Linux desktop (日本語音声入力)")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/dist)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VELUTANORA_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Japanese dictation for the Linux desktop
Press a global shortcut (or a lone modifier key such as Right Ctrl), speak Japanese and press it
again: the speech is recognised on the device with libvosk, cleaned with Japanese rules (fillers,
spoken self-corrections, a proper-noun dictionary, one sentence per line), optionally corrected
by the Gemini API, and pasted into the application in front. A continuous mode pastes each
utterance after a pause.")
# Libraries come from dpkg-shlibdeps; the rest are plugins and libraries Qt loads at run time:
# the Wayland platform plugin and OpenSSL for Qt's TLS backend (the Gemini API).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland, libssl3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse, qt6-translations-l10n")
include(CPack)
