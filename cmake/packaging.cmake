# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` puts where, and the Debian package CPack makes of it.
include(GNUInstallDirs)

# The hicolor icon: scalable, and rendered at the usual sizes when rsvg-convert
# is there (a desktop then needs no SVG loader for the menu).
set(TONMILL_ICON_SVG ${PROJECT_SOURCE_DIR}/share/icons/tonmill.svg)
install(FILES ${TONMILL_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  set(icon_pngs)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${PROJECT_BINARY_DIR}/icons/${size}/tonmill.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/icons/${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${TONMILL_ICON_SVG}
      DEPENDS ${TONMILL_ICON_SVG} VERBATIM)
    list(APPEND icon_pngs ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(tonmill_icons ALL DEPENDS ${icon_pngs})
else()
  message(STATUS "rsvg-convert not found: only the scalable icon is installed")
endif()

# The man page and the changelog are installed compressed, as Debian has them.
set(man_gz ${PROJECT_BINARY_DIR}/man/tonmill.1.gz)
set(changelog_gz ${PROJECT_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${man_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/share/man/tonmill.1 > ${man_gz}
  DEPENDS ${PROJECT_SOURCE_DIR}/share/man/tonmill.1)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/share/changelog > ${changelog_gz}
  DEPENDS ${PROJECT_SOURCE_DIR}/share/changelog)
add_custom_target(tonmill_docs ALL DEPENDS ${man_gz} ${changelog_gz})

install(TARGETS tonmill RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${LANGUAGE_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/tonmill/lang)
install(FILES share/tonmill.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES share/tonmill.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES share/completion/tonmill DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES share/copyright ${changelog_gz} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tonmill)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tonmill)
set(CPACK_PACKAGE_VENDOR "Tonmill developers")
set(CPACK_PACKAGE_CONTACT "Tonmill developers <tonmill@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch audio converter with a window and a command line")
# CPack puts the summary above this as the first line.
set(CPACK_PACKAGE_DESCRIPTION "Tonmill converts audio files, CUE sheets with their tracks, the sound of
films and whole folders to MP3, WMA, Ogg Vorbis, Monkey's Audio, FLAC,
WavPack, AAC or WAV, several files at once. It has a Qt window and a batch
mode for scripts.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links, as dpkg-shlibdeps finds them; ffmpeg reads films;
# Qt's translations put its own dialogs in the chosen language.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ffmpeg, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/COPYING)
include(CPack)
