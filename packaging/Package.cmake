# The Debian package: `scripts/package` builds it with the distribution's
# hardening flags; `cpack -G DEB` in any build folder gives the same layout.

install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tarvio-helper)
# Debian wants the changelog compressed, without a time stamp in the header.
set(tarvio_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${tarvio_changelog}
  COMMAND gzip -9n -c ${CMAKE_CURRENT_LIST_DIR}/changelog > ${tarvio_changelog}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog)
add_custom_target(tarvio_changelog ALL DEPENDS ${tarvio_changelog})
install(FILES ${tarvio_changelog} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tarvio-helper)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvio-helper)
set(CPACK_PACKAGE_VERSION ${TARVIO_VERSION})
set(CPACK_PACKAGE_CONTACT "Tarvio developers <helper@tarvio.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop services for the Tarvio assistant")
set(CPACK_PACKAGE_DESCRIPTION "A program that the Tarvio desktop assistant starts as a child process and
talks to in JSON lines. It gives the assistant the user's calendars and
reminders, on-device transcription of short voice commands, meeting recording
(microphone and the computer's sound into one WAV file), and small desktop
queries: screens, clipboard and temperatures.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Only some methods need these: English transcription, recording, screens and
# the clipboard.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pocketsphinx-en-us, pulseaudio | pipewire-pulse, xserver-xorg | xserver, evolution-data-server")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
