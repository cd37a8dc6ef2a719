# `cmake --install` lays the program out in the usual places under any
# prefix: the launcher `queltravine` and the renderer in bin/, the player
# itself in lib/queltravine/, the pictures in share/queltravine/, a desktop
# entry and its icon, manual pages, and the README, docs/ and licence. The launcher finds the
# rest relative to itself, so the prefix can be chosen at install time.
include(GNUInstallDirs)
set(pictures_dest ${CMAKE_INSTALL_DATADIR}/queltravine)
set(player_dest lib/queltravine)

install(TARGETS queltravine-render RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
list(TRANSFORM QUELTRAVINE_PICTURES PREPEND data/ OUTPUT_VARIABLE picture_files)
install(FILES ${picture_files} DESTINATION ${pictures_dest})

if(TARGET queltravine)
  install(TARGETS queltravine RUNTIME DESTINATION ${player_dest})
  file(RELATIVE_PATH pictures_from_bin /p/${CMAKE_INSTALL_BINDIR} /p/${pictures_dest})
  file(RELATIVE_PATH player_from_bin /p/${CMAKE_INSTALL_BINDIR} /p/${player_dest}/queltravine)
  set(launcher_pictures "$(dirname \"$(readlink -f \"$0\")\")/${pictures_from_bin}")
  set(launcher_player "$(dirname \"$(readlink -f \"$0\")\")/${player_from_bin}")
  configure_file(packaging/queltravine.in ${CMAKE_BINARY_DIR}/packaging/queltravine @ONLY)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/packaging/queltravine DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES packaging/queltravine.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The icon, drawn at each size by tools/make_pictures.
  foreach(size 16 24 32 48 64 128 256)
    install(FILES data/icons/queltravine-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME queltravine.png)
  endforeach()
endif()

# Manual pages, compressed as Debian wants them.
find_program(GZIP_PROGRAM gzip REQUIRED)
foreach(page queltravine.6 queltravine-render.1)
  configure_file(packaging/${page}.in ${CMAKE_BINARY_DIR}/packaging/${page} @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/${page}.gz
    COMMAND ${GZIP_PROGRAM} -9nkf ${CMAKE_BINARY_DIR}/packaging/${page}
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/${page})
  list(APPEND manual_pages ${CMAKE_BINARY_DIR}/packaging/${page}.gz)
endforeach()
# The package's changelog, which Debian asks of every package.
configure_file(packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND ${GZIP_PROGRAM} -9nkf ${CMAKE_BINARY_DIR}/packaging/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog)
add_custom_target(manual_pages ALL DEPENDS ${manual_pages} ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/queltravine.6.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${CMAKE_BINARY_DIR}/packaging/queltravine-render.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(doc_dest ${CMAKE_INSTALL_DATADIR}/doc/queltravine)
install(FILES README.md LICENSE DESTINATION ${doc_dest})
# The README links to these.
install(DIRECTORY docs/ DESTINATION ${doc_dest}/docs)
# Debian looks for the licence under this name.
install(FILES LICENSE DESTINATION ${doc_dest} RENAME copyright)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${doc_dest})

# The Debian package (tools/package.sh): dependencies from the binaries.
set(CPACK_PACKAGE_NAME queltravine)
set(CPACK_PACKAGE_VENDOR "The Queltravine developers")
set(CPACK_PACKAGE_CONTACT "The Queltravine developers <maintainers@queltravine.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-running audiovisual demo with synthesised music")
set(CPACK_PACKAGE_DESCRIPTION
  "A fixed timeline of five scenes is composed pixel by pixel from five\npictures and a long greetings strip, while the music is synthesised\nsample by sample. Includes queltravine-render, which renders the demo\nto WAV, PNG frames and video, bit for bit the same on every run.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS ffmpeg)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/dist)
set(CPACK_STRIP_FILES ON)
include(CPack)
