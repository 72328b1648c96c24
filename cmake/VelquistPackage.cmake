# The Debian package (scripts/package.sh): programs in /usr/bin, read-only data in
# /usr/share/velquist, which the client copies into each user's data folder at the first start.
include(GNUInstallDirs)

set(VELQUIST_SHARE ${CMAKE_INSTALL_DATADIR}/velquist)
install(TARGETS velquist ${VELQUIST_TOOL_TARGETS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The HTTP module, private to the client, which looks for it in <prefix>/lib/velquist
# (zkInstallation::ModuleFile); dpkg-shlibdeps finds QtNetwork through it.
install(TARGETS velquist_http LIBRARY DESTINATION lib/velquist)
install(FILES ${CMAKE_BINARY_DIR}/splash.bmp ${CMAKE_BINARY_DIR}/velquist.ico
              ${CMAKE_SOURCE_DIR}/resources/Settings.ini DESTINATION ${VELQUIST_SHARE})
install(DIRECTORY ${VELQUIST_STARTER_DIR}/SavedWindows ${VELQUIST_STARTER_DIR}/Sounds
        DESTINATION ${VELQUIST_SHARE})
# The web page, for a web server or mosquitto's http_dir (docs/alert-sources.md).
install(DIRECTORY ${VELQUIST_WEB_OUT}/ DESTINATION ${VELQUIST_SHARE}/web)

# Texts that carry the version or an installed path: made at configure time from their templates.
set(VELQUIST_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package-files)

# The desktop entry runs the client through a launcher that detaches a link's launch, as the
# per-user launcher does (scripts/desktop-common.sh).
set(VELQUIST_LAUNCH_DIR ${CMAKE_INSTALL_LIBEXECDIR}/velquist)
set(VELQUIST_CLIENT ${CMAKE_INSTALL_FULL_BINDIR}/velquist)
configure_file(${CMAKE_SOURCE_DIR}/packaging/launch.in ${VELQUIST_PACKAGE_FILES}/launch @ONLY)
install(PROGRAMS ${VELQUIST_PACKAGE_FILES}/launch DESTINATION ${VELQUIST_LAUNCH_DIR})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/resources/velquist.desktop)
file(READ ${CMAKE_SOURCE_DIR}/resources/velquist.desktop VELQUIST_DESKTOP)
string(REPLACE "Exec=velquist " "Exec=${CMAKE_INSTALL_FULL_LIBEXECDIR}/velquist/launch "
       VELQUIST_DESKTOP "${VELQUIST_DESKTOP}")
if(NOT VELQUIST_DESKTOP MATCHES "Exec=/")
  message(FATAL_ERROR "resources/velquist.desktop has no \"Exec=velquist \" line")
endif()
file(WRITE ${VELQUIST_PACKAGE_FILES}/velquist.desktop "${VELQUIST_DESKTOP}")
install(FILES ${VELQUIST_PACKAGE_FILES}/velquist.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY ${CMAKE_BINARY_DIR}/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
        PATTERN .stamp EXCLUDE)

set(VERSION ${PROJECT_VERSION})
configure_file(${CMAKE_SOURCE_DIR}/packaging/velquist.metainfo.xml
               ${VELQUIST_PACKAGE_FILES}/velquist.metainfo.xml @ONLY)
install(FILES ${VELQUIST_PACKAGE_FILES}/velquist.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages and the changelog, compressed as Debian wants them (gzip -9n: no name, no time).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(VELQUIST_COMPRESSED)
foreach(program velquist ${VELQUIST_TOOL_TARGETS})
  set(page ${CMAKE_SOURCE_DIR}/docs/man/${program}.1)
  if(NOT EXISTS ${page})
    message(FATAL_ERROR "${program} has no manual page: write docs/man/${program}.1")
  endif()
  configure_file(${page} ${VELQUIST_PACKAGE_FILES}/man/${program}.1 @ONLY)
  list(APPEND VELQUIST_COMPRESSED ${VELQUIST_PACKAGE_FILES}/man/${program}.1)
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog ${VELQUIST_PACKAGE_FILES}/doc/changelog
               @ONLY)
list(APPEND VELQUIST_COMPRESSED ${VELQUIST_PACKAGE_FILES}/doc/changelog)
set(VELQUIST_COMPRESSED_OUTPUTS)
foreach(file ${VELQUIST_COMPRESSED})
  add_custom_command(OUTPUT ${file}.gz
    COMMAND ${GZIP_PROGRAM} -9nkf ${file} DEPENDS ${file} VERBATIM)
  list(APPEND VELQUIST_COMPRESSED_OUTPUTS ${file}.gz)
endforeach()
add_custom_target(velquist_package_files ALL DEPENDS ${VELQUIST_COMPRESSED_OUTPUTS})
install(DIRECTORY ${VELQUIST_PACKAGE_FILES}/man/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        FILES_MATCHING PATTERN *.1.gz)
install(FILES ${VELQUIST_PACKAGE_FILES}/doc/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velquist)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velquist)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "Velquist developers <developers@velquist.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velquist.example/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop client of the Velquist stock-alert service")
# The first line of the control file's Description is the summary above.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Velquist shows live stock alerts, each strategy in an alert window with a
scrolling list. On each alert it can play a sound, bring its window forward,
show a desktop notification or send the symbol to linked programs. Alert
windows and whole layouts are saved and restored, and the account's symbol
lists are kept in step with the service. Includes a simulated service.")
# Depends from the programs' libraries (dpkg-shlibdeps); what they load at run time by name:
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The sound libraries and libmosquitto are opened by name once the client runs, so dpkg-shlibdeps
# does not see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpulse0, libsndfile1, libmosquitto1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
