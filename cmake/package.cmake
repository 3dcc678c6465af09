# The Debian package of the "system" install (cmake/install.cmake), made by CPack
# for scripts/package.sh. Its version is the project's, with the Debian revision of
# the newest entry in resources/package/changelog; the libraries it depends on are
# found in the program by dpkg-shlibdeps.
file(STRINGS ${CMAKE_SOURCE_DIR}/resources/package/changelog newest_entry LIMIT_COUNT 1)
if(NOT newest_entry MATCHES "^kavelo \\(([^-)]+)-([^)]+)\\)")
  message(FATAL_ERROR "resources/package/changelog: no version in its first line: ${newest_entry}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "resources/package/changelog names version ${CMAKE_MATCH_1}, the project is ${PROJECT_VERSION}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavelo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_2})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_CONTACT "Kavelo developers <kavelo@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serverless PC-to-PC voice calls and chat")
# The extended description, in lines short enough for an 80-column terminal.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Kavelo calls another computer directly, without a server or an account:"
  "type the other computer's IPv4 address, ring it and speak. Both sides run"
  "the same program; the voice goes as GSM 06.10 in UDP datagrams (ports 5551"
  "and 5552). It also keeps a contact list, lists missed calls, exchanges text"
  "messages and waits in the system tray.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plugins at run time, where dpkg-shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};kavelo;system;/")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
