# Installation (cmake --install) and the Debian package (cpack -G DEB in the build folder).
# The bundle goes under the library folder as it is built, so the program finds its content as
# in the build tree; the bin folder gets a relative link to its program, and the data folder
# what a desktop needs to list it: a desktop entry, AppStream metadata and icons, with the
# manual page, the copyright file and the changelog.
include(GNUInstallDirs)

set(MARLUNE_PACKAGE_MAINTAINER "Marlune developers <marlune@example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)

set(MARLUNE_INSTALL_BUNDLE_DIR ${CMAKE_INSTALL_LIBDIR}/marlune/Marlune.app/Contents)
install(TARGETS marlune RUNTIME DESTINATION ${MARLUNE_INSTALL_BUNDLE_DIR}/MacOS)
install(DIRECTORY ${MARLUNE_CONTENT_DIR} DESTINATION ${MARLUNE_INSTALL_BUNDLE_DIR}/Resources)

# bin/marlune leads to the bundle's program by a relative path, so the installed tree may be
# moved (a staging folder, a package's root) and still work.
file(RELATIVE_PATH marlune_link_target ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${MARLUNE_INSTALL_BUNDLE_DIR}/MacOS/marlune)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install)
file(CREATE_LINK ${marlune_link_target} ${CMAKE_BINARY_DIR}/install/marlune SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/install/marlune DESTINATION ${CMAKE_INSTALL_BINDIR})

configure_file(data/marlune.desktop.in ${CMAKE_BINARY_DIR}/install/${MARLUNE_APP_ID}.desktop @ONLY)
configure_file(data/marlune.metainfo.xml.in ${CMAKE_BINARY_DIR}/install/${MARLUNE_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/install/${MARLUNE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_BINARY_DIR}/install/${MARLUNE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${MARLUNE_ICON_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# The licence as a Debian package states it: a machine-readable copyright file (the program and
# its generated content under the Expat licence, the bundled DejaVu font under its own) and the
# package's changelog, compressed (as the manual page) without a name or time stamp so that
# builds are reproducible.
set(marlune_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/marlune)
configure_file(data/debian/copyright.in ${CMAKE_BINARY_DIR}/install/copyright @ONLY)
configure_file(data/debian/changelog.in ${CMAKE_BINARY_DIR}/install/changelog.Debian @ONLY)
configure_file(data/marlune.1 ${CMAKE_BINARY_DIR}/install/marlune.1 COPYONLY)
find_program(MARLUNE_GZIP gzip REQUIRED)
set(marlune_compressed)
foreach(file changelog.Debian marlune.1)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/install/${file}.gz
    COMMAND ${MARLUNE_GZIP} -9nkf ${CMAKE_BINARY_DIR}/install/${file}
    DEPENDS ${CMAKE_BINARY_DIR}/install/${file} VERBATIM)
  list(APPEND marlune_compressed ${CMAKE_BINARY_DIR}/install/${file}.gz)
endforeach()
add_custom_target(marlune_package_docs ALL DEPENDS ${marlune_compressed})
install(FILES ${CMAKE_BINARY_DIR}/install/copyright ${CMAKE_BINARY_DIR}/install/changelog.Debian.gz
        DESTINATION ${marlune_doc_dir})
# The command's manual page.
install(FILES ${CMAKE_BINARY_DIR}/install/marlune.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marlune)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "music toy: build a looping piece by clicking on pads")
set(CPACK_PACKAGE_DESCRIPTION
"In one window you build a looping piece of music by clicking on thirteen pads:
ten instruments (single-cycle waves and drum samples, each with an envelope, an
echo and a 16-step sequencer) and three controls (chord progression, metronome,
recorder). A click enters a note on the step you hear; its height picks the
note in the current chord or scale, its horizontal position the loudness. The
mix can be recorded to a dated 16-bit stereo WAV file in the user's music
folder.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # marlune_<version>-<release>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies from the shared libraries the program links (dpkg-shlibdeps), and the one it
# does not: SDL opens the GLX library (libGL.so.1) itself when it makes the OpenGL context.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libgl1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MARLUNE_PACKAGE_MAINTAINER})
include(CPack)
