# Installation as a desktop program, and the Debian package built from it
# (tools/package.sh): the two programs, their manual pages, the bash
# completion of tamblin-cli, the desktop entry, the icons in the hicolor
# theme and the AppStream metadata.
include(GNUInstallDirs)

# The reverse-DNS id names the desktop entry and the metadata; the icon keeps
# the program's name.
set(TAMBLIN_APP_ID "org.example.Tamblin")
set(TAMBLIN_ICON_NAME "tamblin")
# Date of the release that PROJECT_VERSION names, for the metadata.
set(TAMBLIN_RELEASE_DATE "2026-12-09")

install(TARGETS tamblin-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES res/completion/tamblin-cli
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The manual pages with this release's version, compressed as Debian has them.
set(TAMBLIN_MAN_PAGES tamblin-cli)
if(TARGET tamblin)
  list(APPEND TAMBLIN_MAN_PAGES tamblin)
endif()
set(man_outputs)
foreach(page ${TAMBLIN_MAN_PAGES})
  set(man "${PROJECT_BINARY_DIR}/man/${page}.1")
  configure_file(res/man/${page}.1 "${man}" @ONLY)
  add_custom_command(OUTPUT "${man}.gz"
    COMMAND gzip -9nkf "${man}"
    DEPENDS "${man}"
    COMMENT "Compressing the manual page ${page}(1)" VERBATIM)
  list(APPEND man_outputs "${man}.gz")
  install(FILES "${man}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(tamblin_man_pages ALL DEPENDS ${man_outputs})

# The copyright notice and the changelog a Debian package carries.
execute_process(COMMAND date -u -R -d "${TAMBLIN_RELEASE_DATE} 12:00"
  OUTPUT_VARIABLE TAMBLIN_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)
set(CPACK_PACKAGE_CONTACT "Tamblin developers <tamblin@example.org>")
set(changelog "${PROJECT_BINARY_DIR}/debian/changelog")
configure_file(res/debian/changelog.in "${changelog}" @ONLY)
add_custom_command(OUTPUT "${changelog}.gz"
  COMMAND gzip -9nkf "${changelog}"
  DEPENDS "${changelog}" VERBATIM)
add_custom_target(tamblin_changelog ALL DEPENDS "${changelog}.gz")
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tamblin)
install(FILES res/debian/copyright "${changelog}.gz" DESTINATION ${doc_dir})

if(TARGET tamblin)
  install(TARGETS tamblin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  set(desktop "${PROJECT_BINARY_DIR}/${TAMBLIN_APP_ID}.desktop")
  set(metainfo "${PROJECT_BINARY_DIR}/${TAMBLIN_APP_ID}.metainfo.xml")
  configure_file(res/tamblin.desktop.in "${desktop}" @ONLY)
  configure_file(res/tamblin.metainfo.xml.in "${metainfo}" @ONLY)
  install(FILES "${desktop}" DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES "${metainfo}" DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 32 48 256)
    install(FILES res/tamblin-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME ${TAMBLIN_ICON_NAME}.png)
  endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tamblin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tamblin")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bulk downloader of Sina and Weibo photo albums")
set(CPACK_PACKAGE_DESCRIPTION
  "Tamblin downloads the photo albums of one user of Sina's services: Sina photo\n\
albums, the pictures of Sina blog articles and Weibo photo albums, with file\n\
names from the user's own rules. tamblin-cli drives the same engine from\n\
scripts.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://example.org/tamblin/")
set(CPACK_STRIP_FILES ON)
# tamblin_<version>_amd64.deb
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# Depends: the libraries the binaries link, with versions, as dpkg-shlibdeps
# finds them (Debian's libqt6gui6 carries the X11 platform plugin itself).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The login browser's pages render in a helper process of Qt WebEngine, which
# no library depends on.
if(TARGET tamblin_gui)
  get_target_property(gui_libs tamblin_gui LINK_LIBRARIES)
  get_target_property(gui_interface_libs tamblin_gui INTERFACE_LINK_LIBRARIES)
  if("${gui_libs};${gui_interface_libs}" MATCHES "WebEngine")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6webenginecore6-bin")
  endif()
endif()
include(CPack)
