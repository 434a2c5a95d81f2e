# What `cmake --install` and the Debian package put where; docs/packaging.md
# says why each file goes there.

# The engine's foreign-function interface opens the library by its plain name,
# so the unversioned link is installed beside the soname. Shared libraries are
# mapped, not executed: no executable bit.
install(TARGETS quillon_host LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(TARGETS quillon-host quillon-engine RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES src/usb/ffi_surface.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quillon-host)

install(FILES resources/VerdalisRecorder.pa resources/VerdalisRecorder.conf
  DESTINATION ${CMAKE_INSTALL_DATADIR}/quillon-host)
install(FILES resources/org.quillon.Host.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY resources/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES resources/org.quillon.Host.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# polkit reads actions from /usr/share/polkit-1/actions only; under another
# prefix the file is inert and pkexec falls back to its generic question.
install(FILES resources/org.quillon.Host.policy DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)

set(QUILLON_MAINTAINER "Quillon developers <quillon-host@example.org>")
set(QUILLON_PACKAGE_VERSION "${PROJECT_VERSION}" CACHE STRING
  "Version the package and its changelog carry (scripts/package.sh adds the commit)")
# SOURCE_DATE_EPOCH, when set, fixes the date (scripts/package.sh: the commit's).
string(TIMESTAMP QUILLON_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(QUILLON_DOC_BUILD ${CMAKE_BINARY_DIR}/packaging)
configure_file(packaging/debian/changelog.in ${QUILLON_DOC_BUILD}/changelog @ONLY)
# Manual pages and the changelog are compressed as Debian wants them: gzip -9n,
# no name and no time stamp, so the same sources give the same bytes.
set(QUILLON_COMPRESSED)
foreach(source IN ITEMS ${CMAKE_SOURCE_DIR}/man/quillon-host.1 ${CMAKE_SOURCE_DIR}/man/quillon-engine.1
                        ${QUILLON_DOC_BUILD}/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${QUILLON_DOC_BUILD}/${name}.gz
    COMMAND sh -c "gzip -9nc '${source}' > '${QUILLON_DOC_BUILD}/${name}.gz'"
    DEPENDS ${source} VERBATIM)
  list(APPEND QUILLON_COMPRESSED ${QUILLON_DOC_BUILD}/${name}.gz)
endforeach()
add_custom_target(quillon-docs ALL DEPENDS ${QUILLON_COMPRESSED})
install(FILES ${QUILLON_DOC_BUILD}/quillon-host.1.gz ${QUILLON_DOC_BUILD}/quillon-engine.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/debian/copyright ${QUILLON_DOC_BUILD}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package (scripts/package.sh runs it on a Release build).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon-host)
set(CPACK_PACKAGE_VERSION "${QUILLON_PACKAGE_VERSION}")
set(CPACK_PACKAGE_CONTACT "${QUILLON_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop companion for a handheld voice recorder")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillon records meetings and calls from the microphone and the computer's own
sound output at once, writes them as WAV and Opus files and manages a voice
recorder over its USB serial port.

This package holds the native host process with its command-line engine
(quillon-engine), the shared library with its exported C functions and their
header, the loopback sound device drop-ins and the desktop integration.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The library lands in the dynamic linker's folder: libc's ldconfig trigger
# refreshes its cache (scripts/package.sh drops CPack's own ldconfig scripts).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/debian/triggers)
# Library dependencies come from what the binaries really link; pkexec is what
# the loopback device's installation runs (policykit-1 provided it before
# Debian 12). The host talks to the sound server through libpulse only.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec | policykit-1")
include(CPack)
